#pragma once
// IBrowser for tests: records every call and fires the browser's events when the test says so.
// Each successful creation starts a new web view with no scripts, filters or handlers.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "IBrowser.h"

namespace hb::test {

class TFakeBrowser : public IBrowser {
 public:
  // Recorded calls.
  int Creates = 0;
  TBrowserOptions LastOptions;
  std::vector<std::pair<TBrowserSetting, bool>> Settings; // of the current web view
  std::vector<std::string> Scripts;                       // of the current web view
  std::vector<std::string> Navigations;                   // of every web view
  int FocusMoves = 0;                                     // MoveFocus calls
  std::vector<std::string> Filters;                       // of the current web view
  TResourceRequestedProc ResourceHandler;
  // Switches this browser does not offer (SetSetting answers false).
  std::set<TBrowserSetting> Unsupported;
  int WebViews = 0;    // successful creations so far
  std::string Missing; // what MissingFile answers
  std::string Version; // what BrowserVersion answers
  bool ReuseIdentity = false;
  // The browser confirms its set-up right after the creation event has been handled, as a fast
  // browser would. Off: the test confirms with FireConfigured.
  bool AutoConfirm = true;
  std::vector<std::function<void()>> ConfiguredWaiters; // of the current web view
  // Takes navigations during the set-up and holds their pages back until it is answered.
  bool HoldsPages = false;

  void Create(const TBrowserOptions& options) override {
    ++Creates;
    LastOptions = options;
  }
  bool HasWebView() const override { return FWebView; }
  const void* WebViewIdentity() const override {
    if (!FWebView) return nullptr;
    // ReuseIdentity: every web view gets the same address, as a freed and reallocated one may.
    return &FIdentities[ReuseIdentity ? 0 : static_cast<size_t>(WebViews) % sizeof FIdentities];
  }
  bool SetSetting(TBrowserSetting setting, bool on) override {
    if (!FWebView || Unsupported.count(setting)) return false;
    Settings.emplace_back(setting, on);
    return true;
  }
  void AddScriptOnDocumentCreated(const std::string& script) override {
    if (FWebView) Scripts.push_back(script);
  }
  void WhenConfigured(std::function<void()> proc) override {
    if (FWebView) ConfiguredWaiters.push_back(std::move(proc));
  }
  bool NavigatesWhileConfiguring() const override { return HoldsPages; }
  void Navigate(const std::string& url) override { Navigations.push_back(url); }
  void MoveFocus() override { ++FocusMoves; }
  std::string MissingFile() const override { return Missing; }
  std::string BrowserVersion() const override { return Version; }
  bool AddResourceFilter(const std::string& uriPattern) override {
    if (!FWebView) return false;
    Filters.push_back(uriPattern);
    return true;
  }
  bool SetResourceRequestedHandler(TResourceRequestedProc proc) override {
    if (!FWebView) return false;
    ResourceHandler = std::move(proc);
    return true;
  }

  // Events, as the real browser would deliver them on the user-interface thread.
  void FireCreated(int32_t result) {
    if (result >= 0) {
      FWebView = true;
      ++WebViews;
      Settings.clear();
      Scripts.clear();
      Filters.clear();
      ResourceHandler = nullptr;
      OnNavigationCompleted = nullptr;
      ConfiguredWaiters.clear();
    }
    if (OnCreated) OnCreated(result);
    if (result >= 0 && AutoConfirm) FireConfigured();
  }
  // The browser has answered every set-up request made so far.
  void FireConfigured() {
    auto waiters = std::move(ConfiguredWaiters);
    ConfiguredWaiters.clear();
    for (auto& w : waiters)
      if (w) w();
  }
  void FireNavigation(bool success, int32_t webErrorStatus, int32_t httpStatus,
                      TNavSource source = nsOwn, const std::string& uri = {}) {
    TNavCompleted n;
    n.Source = source;
    n.Uri = uri;
    n.Success = success;
    n.WebErrorStatus = webErrorStatus;
    n.HttpStatus = httpStatus;
    n.NavigationId = ++FNavIds;
    if (OnNavigationCompleted) OnNavigationCompleted(n);
  }
  void FireNewBrowserVersion() {
    if (OnNewBrowserVersion) OnNewBrowserVersion();
  }
  void FireWebMessage(const std::string& json) {
    if (OnWebMessage) OnWebMessage(json);
  }
  // Kind 0 (the browser process exited) takes the web view with it.
  void FireProcessFailed(int32_t kind) {
    if (kind == pfBrowserProcessExited) {
      FWebView = false;
      ConfiguredWaiters.clear();
    }
    if (OnProcessFailed) OnProcessFailed(kind);
  }

 private:
  bool FWebView = false;
  uint64_t FNavIds = 0;
  char FIdentities[8] = {};
};

} // namespace hb::test
