#pragma once
// IBrowser over WebView2: the loader is found beside the executable at run time, the browser
// fills its parent window's client area.
#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "IBrowser.h"
#include "IUiQueue.h"
#include "WebView2Abi.h"
#include "WebView2LockDown.h"

namespace hb::win {

class TUiThreadBox;

class TWebView2Browser : public IBrowser {
 public:
  // parent: the window the browser fills; queue: where failures found inside Create are reported
  // from, so OnCreated never runs inside Create; loaderPath: the loader DLL (normally
  // WebView2Loader.dll beside the executable).
  TWebView2Browser(HWND parent, IUiQueue& queue, std::wstring loaderPath);
  ~TWebView2Browser() override;

  void Create(const TBrowserOptions& options) override;
  bool HasWebView() const override { return static_cast<bool>(FWebView); }
  const void* WebViewIdentity() const override { return FWebView.Get(); }
  bool SetSetting(TBrowserSetting setting, bool on) override;
  void AddScriptOnDocumentCreated(const std::string& script) override;
  void WhenConfigured(std::function<void()> proc) override;
  void Navigate(const std::string& url) override;
  bool AddResourceFilter(const std::string& uriPattern) override;
  bool SetResourceRequestedHandler(TResourceRequestedProc proc) override;
  void MoveFocus() override;
  std::string MissingFile() const override { return FMissingFile; }
  std::string BrowserVersion() const override;

  // The parent's client area changed: the browser follows it.
  void FitToParent();
  // The parent moved on the screen: the browser places its pop-ups (lists, tooltips, the input
  // method) from there on.
  void ParentMoved();
  // The browser's window now exists in the parent (the cover must be raised above it again).
  std::function<void()> OnWindowCreated;

  // Called by the completion handlers (they hold only a weak link to this object).
  void EnvironmentCreated(unsigned generation, HRESULT hr, wv2::ICoreWebView2Environment* env);
  void ControllerCreated(unsigned generation, HRESULT hr, wv2::ICoreWebView2Controller* controller);
  void ResourceRequested(wv2::ICoreWebView2WebResourceRequestedEventArgs* args);
  void ScriptAdded(unsigned generation);
  void NavigationStarting(wv2::ICoreWebView2NavigationStartingEventArgs* args);
  void BrowserExited(unsigned environment);
  void NewVersionAvailable(unsigned environment);
  TNavSource NavigationSource(uint64_t id, bool cancelled);

 private:
  void Fail(HRESULT hr);
  void ReleaseBrowser();
  void StartEnvironment();
  void ExitWaitOver();
  static void CALLBACK ExitWaitElapsed(HWND hwnd, UINT, UINT_PTR id, DWORD);
  void CheckConfigured();

  HWND FParent;
  IUiQueue& FQueue;
  std::wstring FLoaderPath;
  HMODULE FLoader = nullptr;
  unsigned FGeneration = 0;
  std::shared_ptr<TWebView2Browser*> FAlive; // cleared by the destructor; handlers check it
  TComPtr<wv2::ICoreWebView2Environment> FEnv;
  TComPtr<wv2::ICoreWebView2Controller> FController;
  TComPtr<wv2::ICoreWebView2> FWebView;
  TComPtr<wv2::ICoreWebView2Settings> FSettings;
  std::shared_ptr<TUiThreadBox> FUiBox; // what fetch threads let go of, back to this thread
  TResourceRequestedProc FResourceProc;
  bool FResourceHooked = false;
  std::string FMissingFile; // the loader's file name when LoadLibraryW could not find it
  // Document scripts whose addition the runtime has not completed yet, and who waits for them.
  int FScriptsPending = 0;
  std::vector<std::function<void()>> FConfiguredWaiters;
  // Which navigations are the program's own. Navigate gives no id, so each call waits here (by
  // its address) for the NavigationStarting that carries it; the id of the latest call that has
  // started is FLatestOwn, and every own id not yet completed is in FOwnIds.
  std::deque<std::wstring> FOwnPending;
  std::set<uint64_t> FOwnIds;
  uint64_t FLatestOwn = 0;
  bool FLatestOwnLive = false; // started and not finished (a cancelled end may be taken over)
  unsigned FNavigateCalls = 0;
  // Re-creation waits for the old browser process to exit (where the runtime says when), at
  // most kBrowserExitWaitMs: a new environment on the same folder while it still runs may be
  // refused, or join the old process.
  TBrowserOptions FOptions;
  unsigned FEnvSerial = 0;    // numbers the environments, for their exit events
  bool FBrowserAlive = false; // the current environment's browser has not said it exited
  bool FWaitingExit = false;
  TComPtr<wv2::ICoreWebView2Environment5> FRetiring; // kept so that its exit event arrives
  // The kiosk's lock-down: what its handlers share with the navigations of ours.
  std::shared_ptr<TWebView2LockState> FLockState = std::make_shared<TWebView2LockState>();
};

constexpr UINT kBrowserExitWaitMs = 3000;

// For tests that run Microsoft's loader: each call the loader makes on the program's environment
// options object (QueryInterface with the id asked for) is reported, one line a call. Null stops.
using TOptionsTrace = void (*)(const char* call);
void SetEnvironmentOptionsTrace(TOptionsTrace trace);

// Reads a COM-allocated string and frees it.
std::string TakeCoString(LPWSTR s);

} // namespace hb::win
