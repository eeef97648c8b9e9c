#pragma once
// The display window THallBoardForm: the state and every decision of the one main window —
// settings, placement, cover and retry countdown, browser configuration and navigation
// outcomes, map choice, the seat-map menu, gateway resolution and update scheduling. The shells
// own the native windows and forward their events here; everything runs on the user-interface
// thread, and background work hands its results back only through IUiQueue.
//
// How a shell drives it:
//   construct it with TFormPorts (the host must answer Monitors() and ClientSize() already);
//   call FirstShow() once when the window is first shown;
//   PaintCover(canvas) on every cover paint, CoverSize(size) when the cover's size changes,
//   CoverRightButtonUp() when the right button is released anywhere on the cover;
//   WakeUp() for the wake-up message; Close() for the system's close command;
//   destroy the form on the user-interface thread after the message loop ends.
// The browser's events arrive through IBrowser's std::function members, which the form sets in
// its constructor and clears in its destructor.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Geometry.h"
#include "IBrowser.h"
#include "ICanvas.h"
#include "IHttpClient.h"
#include "ISystem.h"
#include "ITimer.h"
#include "IUiQueue.h"
#include "IWindowHost.h"
#include "display/Cover.h"
#include "display/SeatMenu.h"
#include "gateway/GatewayResolve.h"

namespace hb {

struct TSettings;

// One update attempt on its background thread: true when an installer has been started.
using TUpdateAttemptProc = std::function<bool(const std::string& gatewayBase)>;
// One gateway resolution on its background thread.
using TResolveProc = std::function<TResolveResult(const TResolveInputs& inputs)>;

struct TFormPorts {
  TFormPorts(IWindowHost& host, IBrowser& browser, IUiQueue& queue, TTimerFactory newTimer,
             THttpClientFactory newHttp, ISystem& system)
      : Host(host), Browser(browser), Queue(queue), NewTimer(std::move(newTimer)),
        NewHttp(std::move(newHttp)), System(system) {}

  IWindowHost& Host;
  IBrowser& Browser;
  IUiQueue& Queue; // must outlive every background thread the form starts (the whole process)
  TTimerFactory NewTimer;
  THttpClientFactory NewHttp;
  ISystem& System;
  // A canvas that measures text at a DPI (no drawing), for the menu on the monitor it opens on.
  // When empty a character-class estimate is used.
  std::function<std::unique_ptr<ICanvas>(int dpi)> NewMeasureCanvas;
  // The registered wake-up message number (Windows); kept as FShowMsg.
  uint32_t ShowMsg = 0;
  // What the cover says when the browser cannot be created. Empty: the WebView2 texts. The
  // Linux shell names its own browser here.
  std::string MissingBrowserTitle;
  std::string MissingBrowserAdvice;
  // Settings already read (a shell that starts the browser before the window needs them first),
  // instead of reading hallBoard.ini here. For tests: the resolution and the update attempt
  // instead of the real ones (RunResolution with a client from NewHttp; RunUpdateCheck).
  const TSettings* Settings = nullptr;
  TResolveProc Resolve;
  TUpdateAttemptProc UpdateAttempt;
};

// The monitor the window goes on: the configured one (counted from 1), or while that one is not
// there the system's main one (else the first). Null when there is no monitor at all.
const TMonitor* ChooseMonitor(const std::vector<TMonitor>& monitors, int32_t wanted);

// Countdown length and the timers' periods.
constexpr int kRetrySeconds = 30;
constexpr uint32_t kRetryIntervalMs = 1000;
constexpr uint32_t kFirstUpdateIntervalMs = 10000;
constexpr uint32_t kUpdateIntervalMs = 10800000; // 3 hours
// A navigation (or the browser's confirmation of its set-up) not finished within this time counts
// as one that got no answer: a load event the browser never reported must not leave the starting
// cover up for good.
constexpr uint32_t kNavigationDeadlineMs = 60000;
// The browser reports a navigation finished only once the page's resources have loaded, and the
// gateway cache may legitimately hold one of them for up to its longest bounded wait (seat-map
// media: connect plus response time-out). A deadline that runs out while the cache still holds
// requests is therefore put off, in short steps, by at most that longest hold: a page that is
// only waiting for the cache is not declared unanswered, and one that hangs for other reasons
// still is, after a bounded time. A fixed longer deadline would slow down every real failure;
// re-arming without a cap would let a page that keeps asking for resources never time out.
constexpr uint32_t kCacheLongestHoldMs = 1500 + 90000;
constexpr uint32_t kDeadlineRecheckMs = 5000;
// A newer browser runtime is taken at a quiet moment: the map shown for at least this long and
// no menu open. The check repeats at this period until then.
constexpr uint32_t kQuietMomentMs = 60000;
// A page counts as still hung when the browser called it unresponsive this recently before the
// countdown of its episode ended. The browser repeats that event every few seconds while the page
// hangs, about every 15 seconds; a page still hung has had a repeat within that period, so the
// threshold is the period plus a margin for a busy machine's late events. Equal to the period, a
// repeat that came a moment late would let a hung page pass as recovered.
constexpr uint64_t kHungRepeatMs = 15000;
constexpr uint64_t kStillHungMs = kHungRepeatMs + 10000;
// Behind the "missing runtime" cover the program looks again now and then, so a runtime that is
// installed later is taken without anybody restarting the display.
constexpr uint32_t kRuntimeRecheckMs = 300000; // 5 minutes
// Any other failed creation is tried again on a countdown that doubles from 30 seconds up to
// this, so a lasting fault does not start a browser every half minute for months.
constexpr int kCreateBackoffMaxSeconds = 300;
// The web error status a navigation that ran past the deadline is reported with (WebView2's
// "timeout").
constexpr int32_t kNavigationTimeoutStatus = 7;

class THallBoardForm {
 public:
  explicit THallBoardForm(TFormPorts ports);
  ~THallBoardForm();
  THallBoardForm(const THallBoardForm&) = delete;
  THallBoardForm& operator=(const THallBoardForm&) = delete;

  // ---- Events from the shell ----
  void FirstShow(); // runs once; later calls do nothing
  void PaintCover(ICanvas& canvas);
  void CoverSize(TSize size);
  void CoverRightButtonUp();
  void WakeUp();
  void Close(); // the ordinary close of the main window

  // ---- Cover and countdown ----
  void ShowCover(const std::string& title, const std::string& detail, bool retry);
  void HideCover();
  void StartSilentRetry();
  void LayoutCover();
  void RetryTick();
  void PlaceOnMonitor();
  // Monitors came or went, or one changed its resolution or scale: cover the chosen monitor
  // again (the primary while it is missing, the chosen one again once it is back).
  void DisplayChanged();
  int Dpi() const { return FDpi; } // of the monitor the window covers

  // ---- Browser side ----
  void BrowserCreated(int32_t result);
  void NavigationOutcome(const TNavCompleted& nav);
  void PageNavigationOutcome(const TNavCompleted& nav); // a navigation the page started itself
  void WebMessageReceived(const std::string& json);
  void ProcessFailed(int32_t kind);
  void NavigationDeadline(); // the deadline's tick
  void RuntimeRecheck();     // the quiet look for a runtime installed meanwhile
  void NewBrowserVersion();  // a newer runtime is installed
  void QuietMomentTick();    // takes the newer runtime when the moment is quiet
  // The return to the map: another document than the map's page, left without input.
  void IdleReset();

  // ---- Resolution, map choice and navigation ----
  void StartResolve();
  void ResolveFinished(const TResolveResult& result);
  std::string DisplayUrl() const;
  void NavigateMap();
  void ChooseMap(int32_t index);
  void RefreshMap();

  // ---- Menu and update ----
  void ShowMenu();
  void UpdateTick();

  // ---- State, read-only (shells and tests) ----
  const std::string& CoverTitle() const { return FCoverTitle.Text; }
  const std::string& CoverDetail() const { return FCoverDetail.Text; }
  const std::string& CoverHint() const { return FCoverHint.Text; }
  const TCoverLayout& CoverLayout() const { return FCoverLayout; }
  bool RetryRunning() const;
  bool RetryVisible() const { return FRetryVisible; }
  int32_t RetryLeft() const { return FRetryLeft; }
  const ITimer& UpdateTimer() const { return *FUpdateTimer; }
  bool UpdateChecking() const { return FUpdateChecking; }
  TSeatMenu* Menu() const { return FMenu.get(); }
  const std::string& Gateway() const { return FGateway; }
  int32_t GatewayPort() const { return FGatewayPort; }
  const std::string& ServerUrl() const { return FServerUrl; }
  const std::string& NetBarId() const { return FNetBarId; }
  const std::string& StoreName() const { return FStoreName; }
  const std::vector<TSeatMapItem>& Maps() const { return FMaps; }
  int32_t CurrentMap() const { return FCurrentMap; }
  bool BrowserReady() const { return FBrowserReady; }
  bool CacheHooked() const { return FCacheHooked; }
  bool Resolving() const { return FResolving; }
  bool NavigationDeadlineRunning() const { return FNavDeadline && FNavDeadline->Enabled(); }
  bool HungEpisode() const { return FHung; }
  bool RuntimeMissing() const { return FRuntimeMissing; }
  bool RuntimeRecheckRunning() const { return FRecheckTimer && FRecheckTimer->Enabled(); }
  int CreateFailures() const { return FCreateFailures; }
  bool NewVersionPending() const { return FVersionTimer && FVersionTimer->Enabled(); }
  bool IdleResetRunning() const { return FIdleTimer && FIdleTimer->Enabled(); }
  uint32_t ShowMsg() const { return FShowMsg; }
  const TBrowserOptions& BrowserOptions() const { return FBrowserOptions; }

 private:
  void ConfigureBrowser();
  void BrowserConfigured();
  void RecreateBrowser();
  void StartCreate();
  void CreationFailed(int32_t result);
  void ArmNavigationDeadline();
  std::function<void()> Guarded(std::function<void(THallBoardForm&)> action);
  void SetHint(const std::string& text);

  TFormPorts FPorts;
  // Queued procedures hold a weak reference to this token and do nothing once it has expired.
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
  bool FShown = false;

  // The fields of the window, in their order. Native controls are held as the port that owns
  // them (browser, cover visibility) or as the core's own model of them (cover texts, places).
  IBrowser& FBrowser;
  TSize FCover; // the cover's client size; its visibility is the host's
  TRect FCoverIcon;
  TCoverLabel FCoverTitle;
  TCoverLabel FCoverDetail;
  TCoverLabel FCoverHint;
  std::unique_ptr<ITimer> FRetryTimer;
  std::unique_ptr<ITimer> FUpdateTimer;
  bool FUpdateChecking = false;
  std::unique_ptr<TSeatMenu> FMenu;
  std::string FGateway;
  int32_t FGatewayPort = 58001;
  std::string FServerOverride;
  std::string FNetBarOverride;
  std::string FMapWant;
  int32_t FMonitor = 1;
  bool FHideCursor = true;
  std::string FServerUrl;
  std::string FNetBarId;
  std::string FStoreName;
  std::vector<TSeatMapItem> FMaps;
  int32_t FCurrentMap = -1;
  bool FBrowserReady = false;
  bool FCacheHooked = false;
  const void* FHookedWebView = nullptr; // the web view the cache was installed on
  bool FResolving = false;
  bool FClosing = false;
  bool FRetryVisible = false;
  int32_t FRetryLeft = 0;
  uint32_t FShowMsg = 0;

  // Beyond the table: the browser's options, the layout last computed, and whether the whole
  // browser process has gone so that the next navigation must create it anew.
  TBrowserOptions FBrowserOptions;
  TCoverLayout FCoverLayout;
  bool FBrowserLost = false;
  int FDpi = kBaseDpi;
  // The web view being configured waits for the browser's confirmation; a confirmation that
  // belongs to an earlier web view (generation) is dropped.
  bool FConfiguring = false;
  // A navigation sent before the confirmation (a browser that holds pages back): none, one
  // still under way, or one that has had its outcome.
  enum class TEarlyNavigation { enNone, enUnderway, enEnded };
  TEarlyNavigation FEarlyNavigation = TEarlyNavigation::enNone;
  uint64_t FBrowserGeneration = 0;
  // One-shot deadline of the navigation (or the configuration) under way.
  std::unique_ptr<ITimer> FNavDeadline;
  // A hung page's episode: one problem line and one countdown however often the browser
  // repeats the event; the time of its latest repeat decides at the countdown's end.
  bool FHung = false;
  uint64_t FLastHungTick = 0;
  // Browser creation: one under way (its outcome still to come, under the deadline), the
  // failures in a row that set the countdown's length, and whether the runtime is missing (its
  // cover shows, and the quiet look follows every kRuntimeRecheckMs).
  bool FCreating = false;
  int FCreateFailures = 0;
  bool FRuntimeMissing = false;
  std::unique_ptr<ITimer> FRecheckTimer;
  // How far the navigation deadline has been put off for requests the gateway cache holds, and
  // whether the last look found any.
  uint32_t FDeadlineExtendedMs = 0;
  bool FDeadlineSawFetches = false;
  // A newer runtime waiting for a quiet moment; when the map was last shown (0: not shown now);
  // the version in use before the browser was made anew for it.
  std::unique_ptr<ITimer> FVersionTimer;
  uint64_t FMapShownTick = 0;
  std::string FOldBrowserVersion;

  // The return to the map when the page led elsewhere and nobody is there: the address of the
  // map's page as last shown (no fragment), and the clock that runs while another document is
  // shown, restarted by every input the page reports.
  void IdleWatch(const TNavCompleted& nav);
  std::string FMapPage;
  std::unique_ptr<ITimer> FIdleTimer;
};

} // namespace hb
