#pragma once
// IBrowser over Chromium: the browser runs as its own app window over the display's monitor and
// is driven through the debugging protocol on a pipe. Our windows (cover, menu) are stacked
// above it by the window host. Everything runs on the user-interface thread.
#include <glib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChromiumLockDown.h"
#include "ChromiumUpgradeWatch.h"
#include "DevToolsConnection.h"
#include "Geometry.h"
#include "IBrowser.h"

namespace hb::lin {

// Failure codes handed to OnCreated, HRESULT style so the cover shows them like WebView2's.
constexpr int32_t kBrowserNotFound = static_cast<int32_t>(0x80070002u);    // file not found
constexpr int32_t kBrowserStartFailed = static_cast<int32_t>(0x80004005u); // unspecified

class TChromiumBrowser : public IBrowser {
 public:
  // bounds: where the browser window goes (the display monitor), asked at each creation.
  explicit TChromiumBrowser(std::function<TRect()> bounds);
  ~TChromiumBrowser() override;

  void Create(const TBrowserOptions& options) override;
  // Starts the browser before the window asks for it (the window's options are known as soon as
  // it is constructed), so its start-up overlaps ours. A later Create with the same options
  // adopts it; other options start a new one.
  void Prestart(const TBrowserOptions& options);
  bool HasWebView() const override { return !FSession.empty(); }
  const void* WebViewIdentity() const override {
    return FSession.empty() ? nullptr : FIdentity.get();
  }
  bool SetSetting(TBrowserSetting setting, bool on) override;
  void AddScriptOnDocumentCreated(const std::string& script) override;
  void WhenConfigured(std::function<void()> proc) override;
  // A navigation during the set-up goes to the network at once; its document's response waits at
  // the protocol's fetch filter until every set-up command is answered, so nothing commits first.
  bool NavigatesWhileConfiguring() const override { return true; }
  void Navigate(const std::string& url) override;
  bool AddResourceFilter(const std::string& uriPattern) override;
  bool SetResourceRequestedHandler(TResourceRequestedProc proc) override;
  // The running browser's product and version, as it names them ("Chrome/…"); empty until known.
  std::string BrowserVersion() const override { return FVersion; }

  // The browser's window has appeared or been replaced: windows meant to lie above it are raised
  // again (without a window manager the newest mapped window is on top).
  std::function<void()> OnWindowShown;

  // How many milliseconds the resource filters may rest (0: not now): while the gateway cache is
  // paused it lets every request alone anyway, and each request still held at the filter costs a
  // round trip through this pipe and our main loop before it may go on. So while this says so and
  // no request is held, the cache's patterns leave the filter (documents' responses stay), and
  // come back when the rest is over.
  std::function<uint64_t()> FilterRestMs;

  // Test hooks (enabled by the program only when asked): crash the renderer, run a script in the
  // page and hand back its result's JSON text (or an "error: ..." text).
  void CrashRenderer();
  // Brings the browser's window to the front (the wake-up).
  void Activate();
  void MoveFocus() override;
  // Moves the browser's window onto the bounds the window host gives (a display changed).
  void FitToBounds();
  void Evaluate(const std::string& expression, std::function<void(const std::string&)> done);
  int BrowserPid() const { return FPid; }

 private:
  struct TNavState {
    bool Active = false;
    std::string LoaderId;
    int32_t HttpStatus = 0;
    // The main frame has committed this navigation's document: only its load event counts. The
    // start page's own load event may arrive after our navigation has begun.
    bool Committed = false;
    // The failure the browser gave for the document's response (wsUnknown: none), in the
    // protocol's coarser reasons; the answer to Page.navigate names the exact net error.
    int32_t ErrorStatus = 0;
    // Which of our Page.navigate commands this is (0: the page's or a person's own).
    uint64_t OwnSeq = 0;
    std::string Url; // the committed document's address
  };

  void Restart(const TBrowserOptions& options); // forgets the old browser, starts nothing
  void Start(const TBrowserOptions& options);
  void StopProcess();
  void FailCreate(int32_t code);
  void OnEvent(const std::string& method, const std::string& session, const rapidjson::Value& p);
  void AttachTo(const std::string& targetId);
  void SessionReady();
  // A set-up command on the page's session whose answer WhenConfigured waits for.
  void SendSetup(const std::string& method, const std::string& params);
  void CheckConfigured();
  void ReportCreated();
  // The main frame began a navigation to another document.
  void NavigationStarted(const std::string& loaderId, const std::string& url);
  void FinishNavigation(bool success, int32_t webError);
  // Keeps the window's page and place for the next start (StartPageFor, LoadStartWindow).
  void RememberStart(const std::string& url);
  // The filter: every document's response (how each navigation went, and the hold during the
  // set-up) and, unless they rest, the cache's patterns.
  void SendFetchEnable();
  // Sends the filter change that AddResourceFilter left for the end of the main loop's turn.
  void FlushFetchEnable();
  // Lets the documents held for the set-up go on, and stops holding new ones.
  void ReleaseDocuments();
  // A document's paused request or response goes on; response holds the lock-down's changed
  // response (DocumentResponse), or nothing.
  void ContinueDocument(const std::string& id, const std::string& response = {});
  void ResourcePaused(const rapidjson::Value& p);
  void MaybeRestFilters();
  void ArmFilterWake(uint64_t ms);
  // Ends any rest of the filters; requests still held stay counted.
  void StopFilterRest();
  // Forgets everything of the page session that went (the browser stopped or exited).
  void ForgetSession();
  static gboolean FilterWake(gpointer self);
  static void ChildExited(GPid pid, gint status, gpointer self);

  std::function<TRect()> FBounds;
  std::shared_ptr<TDevToolsConnection> FConn;
  GPid FPid = 0;
  unsigned FChildWatch = 0;
  bool FAttaching = false;
  bool FCreatedReported = false;
  std::string FSession;
  std::string FTargetId;
  std::string FMainFrame;
  std::shared_ptr<int> FIdentity;
  TNavState FNav;
  uint64_t FNavigationCount = 0;
  bool FCrashReported = false;
  bool FNavigated = false;
  std::string FProfileFolder;
  std::string FStartUrl; // the app window's first page, as given on its command line
  TRect FLaunchBounds;   // where the window was placed at its start
  TRect FSavedWindow;    // where the profile folder says it goes next time
  bool FPrestarted = false;
  bool FReadyHeld = false;
  TBrowserOptions FPrestartOptions;
  std::vector<std::string> FPatterns;
  TResourceRequestedProc FResourceProc;
  int FHeldRequests = 0;          // deferred requests of this session not yet completed
  int FNavigatesUnanswered = 0;   // our Page.navigate commands of this session not yet answered
  bool FHoldingDocuments = false; // documents' responses wait for the set-up
  // Their request ids and changed responses, in arrival order.
  std::vector<std::pair<std::string, std::string>> FHeldDocuments;
  bool FFetchPending = false;  // patterns added, not yet sent
  bool FFilterResting = false; // the cache's patterns are off while the cache is paused
  unsigned FFilterWake = 0;
  // Set-up commands of the current session still unanswered, and who waits for them. A new
  // session (generation) makes every earlier answer irrelevant.
  int FSetupPending = 0;
  uint64_t FSetupGeneration = 0;
  std::vector<std::function<void()>> FConfiguredWaiters;
  // Our Page.navigate commands not yet matched to a started navigation, in order, and the
  // number of the latest one: a completion is ours only when it is that one's.
  std::vector<std::pair<uint64_t, std::string>> FPendingOwn;
  uint64_t FOwnSeq = 0;
  TChromiumLockDown FLockDown;
  std::string FVersion;
  // The executable this browser was started from: replaced on disk, it raises OnNewBrowserVersion.
  TChromiumUpgradeWatch FUpgradeWatch;
};

} // namespace hb::lin
