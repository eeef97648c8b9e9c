#include "display/uHallBoardMain.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <thread>
#include <utility>

#include "AppIdentity.h"
#include "display/BrowserHost.h"
#include "display/MapChoice.h"
#include "display/PageScripts.h"
#include "settings/Settings.h"
#include "shell/DiagnosticLog.h"
#include "shell/GatewayCache.h"
#include "shell/TestTimers.h"
#include "update/uHallBoardUpdate.h"

namespace hb {

static_assert(kCacheLongestHoldMs == kCacheConnectTimeoutMs + kSeatMapResponseTimeoutMs,
              "the deadline's extension follows the cache's longest hold");

namespace {

std::string GatewayBase(const std::string& host, int32_t port) {
  char buf[32];
  std::snprintf(buf, sizeof buf, ":%d", port);
  return "http://" + host + buf;
}

// The failure row of an unreachable gateway, for a resolution that ended in an error the
// resolution itself did not word.
void UnreachableGateway(const TResolveInputs& in, const std::string& message, TResolveResult& r) {
  char detail[512];
  std::snprintf(detail, sizeof detail,
                "打不开 %s:%d。请确认网关电脑已开机、StoreRelay 在运行，并核对 hallBoard.ini "
                "里的网关地址。",
                in.Gateway.c_str(), in.Port);
  r = TResolveResult{};
  r.Problem = "连不上门店网关";
  r.Detail = detail;
  ReportProblem(kAppFolder, "M101", "GET /entry " + in.Gateway + ": " + message);
}

} // namespace

THallBoardForm::THallBoardForm(TFormPorts ports)
    : FPorts(std::move(ports)), FBrowser(FPorts.Browser) {
  // The steps keep their order: the settings decide the monitor, the monitor the cover's size.
  // The native window's appearance (caption, no border, colour, font) is the shell's.
  FShowMsg = FPorts.ShowMsg;
  FPorts.System.KeepAwake(true);
  const TSettings settings = FPorts.Settings ? *FPorts.Settings : LoadSettings();
  FGateway = settings.Gateway;
  FGatewayPort = settings.GatewayPort;
  FServerOverride = settings.ServerOverride;
  FNetBarOverride = settings.NetBarOverride;
  FMapWant = settings.MapWant;
  FMonitor = settings.Monitor;
  FHideCursor = settings.HideCursor;
  PlaceOnMonitor();
  // The browser is prepared, not started: FirstShow starts its creation.
  FBrowserOptions = DisplayBrowserOptions(AppDataFolder());
  FBrowser.OnCreated = [this](int32_t result) { BrowserCreated(result); };
  FBrowser.OnWebMessage = [this](const std::string& json) { WebMessageReceived(json); };
  FBrowser.OnProcessFailed = [this](int32_t kind) { ProcessFailed(kind); };
  FRetryTimer = FPorts.NewTimer();
  FRetryTimer->SetInterval(static_cast<uint32_t>(ScaledMs(kRetryIntervalMs)));
  FRetryTimer->SetEnabled(false);
  FRetryTimer->OnTick = [this] { RetryTick(); };
  FUpdateTimer = FPorts.NewTimer();
  FUpdateTimer->SetInterval(kFirstUpdateIntervalMs);
  FUpdateTimer->SetEnabled(false);
  FUpdateTimer->OnTick = [this] { UpdateTick(); };
  FNavDeadline = FPorts.NewTimer();
  FNavDeadline->SetInterval(static_cast<uint32_t>(ScaledDeadlineMs(kNavigationDeadlineMs)));
  FNavDeadline->SetEnabled(false);
  FNavDeadline->OnTick = [this] { NavigationDeadline(); };
  FRecheckTimer = FPorts.NewTimer();
  FRecheckTimer->SetInterval(static_cast<uint32_t>(ScaledMs(kRuntimeRecheckMs)));
  FRecheckTimer->SetEnabled(false);
  FRecheckTimer->OnTick = [this] { RuntimeRecheck(); };
  FVersionTimer = FPorts.NewTimer();
  FVersionTimer->SetInterval(static_cast<uint32_t>(ScaledMs(kQuietMomentMs)));
  FVersionTimer->SetEnabled(false);
  FVersionTimer->OnTick = [this] { QuietMomentTick(); };
  FBrowser.OnNewBrowserVersion = [this] { NewBrowserVersion(); };
  FIdleTimer = FPorts.NewTimer();
  FIdleTimer->SetInterval(static_cast<uint32_t>(ScaledMs(kIdleResetMs)));
  FIdleTimer->SetEnabled(false);
  FIdleTimer->OnTick = [this] { IdleReset(); };
  FCover = FPorts.Host.ClientSize();
  LayoutCover();
  ShowCover(kStartingTitle, kStartingDetail, false);
}

THallBoardForm::~THallBoardForm() {
  FClosing = true;
  FPorts.System.KeepAwake(false);
  // From here no browser event may reach this object.
  FBrowser.OnCreated = nullptr;
  FBrowser.OnNavigationCompleted = nullptr;
  FBrowser.OnWebMessage = nullptr;
  FBrowser.OnProcessFailed = nullptr;
  FBrowser.OnNewBrowserVersion = nullptr;
  // The web view goes with the window; its identity may be reused by a later one.
  ForgetHookedWebView(FHookedWebView);
  FMenu.reset();
  FRetryTimer.reset();
  FUpdateTimer.reset();
  FNavDeadline.reset();
  FRecheckTimer.reset();
  FVersionTimer.reset();
  FIdleTimer.reset();
  FAlive.reset();
}

// ---- Events from the shell ----

void THallBoardForm::FirstShow() {
  if (FShown) return;
  FShown = true;
  StartCreate();
  StartResolve();
  if (!FGateway.empty()) FUpdateTimer->SetEnabled(true);
}

void THallBoardForm::PaintCover(ICanvas& canvas) {
  // Laid out at the canvas's own DPI, the one its fonts are drawn at, for the detail as it wraps.
  PaintCoverTo(canvas, FCover, hb::LayoutCoverFor(FCover, canvas, FCoverDetail.Text),
               FCoverTitle.Text, FCoverDetail.Text, FCoverHint.Text);
}

void THallBoardForm::CoverSize(TSize size) {
  FCover = size;
  LayoutCover();
}

void THallBoardForm::CoverRightButtonUp() {
  ShowMenu();
}

void THallBoardForm::WakeUp() {
  FPorts.Host.BringToFront();
}

void THallBoardForm::Close() {
  FPorts.Host.Close();
}

// ---- Cover and countdown ----

void THallBoardForm::ShowCover(const std::string& title, const std::string& detail, bool retry) {
  if (FClosing) return;
  FMapShownTick = 0;
  FCoverTitle.Text = title;
  FCoverDetail.Text = detail;
  FRetryVisible = retry;
  if (retry) {
    FRetryLeft = kRetrySeconds;
    FCoverHint.Text = CountdownHint(kRetrySeconds);
    FRetryTimer->SetEnabled(true);
  } else {
    FCoverHint.Text = kHintNoCountdown;
  }
  LayoutCover();
  FPorts.Host.SetCoverVisible(true);
}

void THallBoardForm::HideCover() {
  FPorts.Host.SetCoverVisible(false);
  if (!FRetryVisible) FRetryTimer->SetEnabled(false);
}

void THallBoardForm::StartSilentRetry() {
  FRetryVisible = false;
  FRetryLeft = kRetrySeconds;
  FRetryTimer->SetEnabled(true);
}

void THallBoardForm::LayoutCover() {
  FCoverLayout = hb::LayoutCover(FCover, FDpi);
  FCoverIcon = FCoverLayout.Icon;
  FCoverTitle.Bounds = FCoverLayout.Title;
  FCoverDetail.Bounds = FCoverLayout.Detail;
  FCoverHint.Bounds = FCoverLayout.Hint;
  FPorts.Host.InvalidateCover();
}

void THallBoardForm::SetHint(const std::string& text) {
  FCoverHint.Text = text;
  FPorts.Host.InvalidateCover();
}

bool THallBoardForm::RetryRunning() const {
  return FRetryTimer && FRetryTimer->Enabled();
}

void THallBoardForm::RetryTick() {
  --FRetryLeft;
  if (FRetryVisible && FPorts.Host.CoverVisible()) SetHint(CountdownHint(std::max(FRetryLeft, 0)));
  if (FRetryLeft > 0) return;
  FRetryTimer->SetEnabled(false);
  if (FHung) {
    // The end of a hung page's episode: a page the browser still calls unresponsive would not
    // take a new navigation either, so the browser is made anew.
    FHung = false;
    if (FPorts.System.TickCount64() - FLastHungTick <= kStillHungMs) {
      WriteLog("页面一直没有响应，重新创建浏览器");
      FBrowserLost = true;
      FBrowserReady = false;
    }
  }
  if (!FServerUrl.empty()) {
    NavigateMap();
  } else {
    FCoverDetail.Text = kReconnectingDetail;
    FPorts.Host.InvalidateCover();
    StartResolve();
  }
}

const TMonitor* ChooseMonitor(const std::vector<TMonitor>& monitors, int32_t wanted) {
  if (monitors.empty()) return nullptr;
  int64_t i = static_cast<int64_t>(wanted) - 1;
  if (i >= 0 && i < static_cast<int64_t>(monitors.size())) return &monitors[static_cast<size_t>(i)];
  // A monitor that is not there (yet): the system's main one where the host names it.
  for (const TMonitor& m : monitors)
    if (m.Primary) return &m;
  return &monitors.front();
}

void THallBoardForm::PlaceOnMonitor() {
  const std::vector<TMonitor> monitors = FPorts.Host.Monitors();
  const TMonitor* m = ChooseMonitor(monitors, FMonitor);
  if (!m) return; // nothing to place on; the shell's default placement stays
  FDpi = m->Dpi > 0 ? m->Dpi : kBaseDpi;
  FPorts.Host.PlaceWindow(m->Bounds);
}

void THallBoardForm::DisplayChanged() {
  if (FClosing) return;
  PlaceOnMonitor();
  // The size may be the same while the scale is not: lay out again either way.
  FCover = FPorts.Host.ClientSize();
  LayoutCover();
}

// ---- Browser side ----

void THallBoardForm::StartCreate() {
  // Creation has a deadline like a navigation: a runtime that never answers must not leave the
  // starting cover up for good.
  FCreating = true;
  ArmNavigationDeadline();
  FBrowser.Create(FBrowserOptions);
}

void THallBoardForm::BrowserCreated(int32_t result) {
  if (FClosing) return;
  // An outcome after the deadline belongs to a creation already given up; the next one decides.
  if (!FCreating) return;
  FCreating = false;
  FNavDeadline->SetEnabled(false);
  if (result < 0) {
    CreationFailed(result);
    return;
  }
  if (!FOldBrowserVersion.empty()) {
    WriteLog("浏览器运行库已更新 " + FOldBrowserVersion + " → " + FBrowser.BrowserVersion());
    FOldBrowserVersion.clear();
  }
  const bool recovered = FRuntimeMissing || FCreateFailures > 0;
  FRuntimeMissing = false;
  FCreateFailures = 0;
  FRecheckTimer->SetEnabled(false);
  FBrowserLost = false;
  if (recovered) ShowCover(kStartingTitle, kStartingDetail, false);
  ConfigureBrowser();
}

void THallBoardForm::CreationFailed(int32_t result) {
  // Whatever failed, the next attempt starts from a new environment (the adapter makes one on
  // every Create): after a folder still held by an exiting browser, the old one stays refused.
  FBrowserLost = true;
  FBrowserReady = false;
  if (BrowserMissing(result, FBrowser.MissingFile())) {
    // The quiet looks that find it still missing change nothing on screen and add no line.
    if (!FRuntimeMissing) {
      FRuntimeMissing = true;
      const std::string tag = ReportProblem(kAppFolder, "M103", BrowserInitFailedText(result));
      const std::string title =
          FPorts.MissingBrowserTitle.empty() ? kMissingRuntimeTitle : FPorts.MissingBrowserTitle;
      const std::string missing = FBrowser.MissingFile();
      const std::string advice = !missing.empty() ? MissingFileAdvice(missing)
                                 : FPorts.MissingBrowserAdvice.empty()
                                     ? kMissingRuntimeAdvice
                                     : FPorts.MissingBrowserAdvice;
      ShowCover(title, advice + tag, false);
    }
    FRecheckTimer->SetEnabled(false);
    FRecheckTimer->SetEnabled(true);
    return;
  }
  FRuntimeMissing = false;
  FRecheckTimer->SetEnabled(false);
  const std::string tag = ReportProblem(kAppFolder, "M103", BrowserStartFailedText(result));
  int seconds = kRetrySeconds;
  for (int i = 0; i < FCreateFailures && seconds < kCreateBackoffMaxSeconds; ++i) seconds *= 2;
  seconds = std::min(seconds, kCreateBackoffMaxSeconds);
  ++FCreateFailures;
  ShowCover(kBrowserStartFailedTitle,
            BrowserStartFailedWords(result) + "，稍后会自动重试。错误码 " + tag, true);
  FRetryLeft = seconds;
  SetHint(CountdownHint(seconds));
}

void THallBoardForm::NewBrowserVersion() {
  if (FClosing) return;
  // The running browser keeps the version it started with (and its security holes) until it is
  // made anew; a display that runs for months must take the new one by itself.
  if (!FVersionTimer->Enabled()) FVersionTimer->SetEnabled(true);
}

void THallBoardForm::QuietMomentTick() {
  if (FClosing) return;
  // Quiet: the map has been on screen for a minute, nobody has the menu open, nothing counts
  // down or loads.
  const uint64_t now = FPorts.System.TickCount64();
  const bool quiet = FBrowserReady && !FCreating && !FConfiguring && FMapShownTick != 0 &&
                     now - FMapShownTick >= ScaledMs(kQuietMomentMs) &&
                     !(FMenu && FMenu->Visible()) && !FRetryTimer->Enabled() &&
                     !FNavDeadline->Enabled();
  if (!quiet) return;
  FVersionTimer->SetEnabled(false);
  FOldBrowserVersion = FBrowser.BrowserVersion();
  if (FOldBrowserVersion.empty()) FOldBrowserVersion = "?";
  // The map comes back under the starting cover once the new browser has it.
  ShowCover(kStartingTitle, kStartingDetail, false);
  RecreateBrowser();
}

void THallBoardForm::RuntimeRecheck() {
  FRecheckTimer->SetEnabled(false);
  if (FClosing || !FRuntimeMissing || FCreating) return;
  RecreateBrowser();
}

void THallBoardForm::ConfigureBrowser() {
  LockDownBrowser(FBrowser);
  HardenBrowser(FBrowser);
  FBrowser.AddScriptOnDocumentCreated(PageScriptWithPrefix(FHideCursor));
  FBrowser.AddScriptOnDocumentCreated(kInputScript);
  AddNavCompletedHandler(FBrowser, [this](const TNavCompleted& nav) { NavigationOutcome(nav); });
  // The browser handles these requests on its own schedule: a navigation sent before it has
  // confirmed them can commit a page without its scripts (the browser's own menu and developer
  // tools on the shop's screen) or before the load event is being reported. So the web view
  // counts as ready only once the browser has answered them all.
  const uint64_t generation = ++FBrowserGeneration;
  FConfiguring = true;
  FEarlyNavigation = TEarlyNavigation::enNone;
  ArmNavigationDeadline();
  FBrowser.WhenConfigured([this, alive = std::weak_ptr<int>(FAlive), generation] {
    if (alive.expired() || FClosing || generation != FBrowserGeneration) return;
    BrowserConfigured();
  });
  // A browser that holds pages back until then fetches the map meanwhile.
  if (FBrowser.NavigatesWhileConfiguring()) NavigateMap();
}

void THallBoardForm::BrowserConfigured() {
  if (!FConfiguring) return;
  FConfiguring = false;
  FBrowserReady = true;
  // A navigation started meanwhile goes on under the deadline; one that has ended has decided
  // what follows (the map, or the countdown to try again).
  if (FEarlyNavigation == TEarlyNavigation::enUnderway) return;
  FNavDeadline->SetEnabled(false);
  if (FEarlyNavigation == TEarlyNavigation::enNone) NavigateMap();
}

void THallBoardForm::ArmNavigationDeadline() {
  // Re-enabling restarts the count from now.
  FNavDeadline->SetEnabled(false);
  // A test run may shorten the waits (a release build never does): the test time divisor every
  // deadline, down to a floor that a slow machine's browser start needs; the page-load divisor a
  // page load's alone.
  const uint64_t ms = ScaledDeadlineMs(kNavigationDeadlineMs);
  FNavDeadline->SetInterval(static_cast<uint32_t>(
      FCreating ? ms : std::min<uint64_t>(ms, ScaledLoadMs(kNavigationDeadlineMs))));
  FDeadlineExtendedMs = 0;
  FDeadlineSawFetches = false;
  FNavDeadline->SetEnabled(true);
}

void THallBoardForm::NavigationDeadline() {
  FNavDeadline->SetEnabled(false);
  if (FClosing) return;
  if (FCreating) {
    // The runtime never said how the creation ended: give it up and try again on the countdown.
    FCreating = false;
    ++FBrowserGeneration;
    CreationFailed(kCreationTimedOut);
    return;
  }
  if (FConfiguring) {
    // The browser never confirmed its set-up: it is of no use as it is, so the countdown ends in
    // a new one.
    FConfiguring = false;
    ++FBrowserGeneration;
    ReportProblem(kAppFolder, "M105", "浏览器没有在 60 秒内完成设置");
    FBrowserLost = true;
    FBrowserReady = false;
    ShowCover(kPageCrashedTitle, kPageCrashedDetail, true);
    return;
  }
  // The page may still be waiting for resources the gateway cache holds, each within its own
  // bounded time: put the deadline off while it does, up to the longest such hold. An answer that
  // has just come still has to reach the page and let it finish, so one more step follows the
  // look that first finds the cache quiet; without it, a look that falls between the answer and
  // the load event would call a page that is just finishing unanswered.
  const auto hold = static_cast<uint32_t>(ScaledLoadMs(kCacheLongestHoldMs));
  const bool fetching = GatewayFetchesInFlight() > 0;
  const bool sawFetches = std::exchange(FDeadlineSawFetches, fetching);
  if ((fetching || sawFetches) && FDeadlineExtendedMs < hold) {
    const uint32_t step = std::min(static_cast<uint32_t>(ScaledLoadMs(kDeadlineRecheckMs)),
                                   hold - FDeadlineExtendedMs);
    FDeadlineExtendedMs += step;
    FNavDeadline->SetInterval(step);
    FNavDeadline->SetEnabled(true);
    return;
  }
  // A navigation the browser never reported as finished is one that got no answer.
  TNavCompleted nav;
  nav.WebErrorStatus = kNavigationTimeoutStatus;
  NavigationOutcome(nav);
}

void THallBoardForm::NavigationOutcome(const TNavCompleted& nav) {
  if (FClosing) return;
  // A navigation of ours that a later one replaced says nothing about the page now loading.
  if (nav.Source == nsReplaced) return;
  IdleWatch(nav);
  if (nav.Source == nsPage) {
    PageNavigationOutcome(nav);
    return;
  }
  // A set-up still unanswered keeps its deadline: only a new browser ends that wait.
  if (FConfiguring)
    FEarlyNavigation = TEarlyNavigation::enEnded;
  else
    FNavDeadline->SetEnabled(false);
  FHung = false; // a page that finished a navigation is not hung
  if (nav.Success || nav.HttpStatus != 0) {
    // Hiding first may stop a running countdown; an error status then starts it again.
    HideCover();
    if (FMapShownTick == 0) FMapShownTick = std::max<uint64_t>(FPorts.System.TickCount64(), 1);
    if (nav.HttpStatus >= 400) {
      WriteLog(HttpErrorText(nav.HttpStatus, false));
      StartSilentRetry();
    }
    // The page takes the keyboard, so F5 and its own keys work without a click first; an open
    // menu keeps it until it closes.
    if (!(FMenu && FMenu->Visible())) FBrowser.MoveFocus();
    return;
  }
  ReportProblem(kAppFolder, "M104", NavigationFailedText(nav.WebErrorStatus));
  ShowCover(kCloudUnreachableTitle, kCloudUnreachableDetail, true);
}

void THallBoardForm::PageNavigationOutcome(const TNavCompleted& nav) {
  // The page's own navigations never raise a cover: the map was shown, and what the page did
  // next is no news of the cloud. An error page it led to is left quietly for the map again,
  // unless a countdown already leads there.
  const bool failed = !nav.Success && nav.HttpStatus == 0;
  if (failed && nav.WebErrorStatus == kNavigationCancelledStatus) return; // stopped on purpose
  if (!failed && nav.HttpStatus < 400) return;
  WriteLog(failed ? PageNavigationFailedText(nav.WebErrorStatus)
                  : HttpErrorText(nav.HttpStatus, true));
  if (!FRetryTimer->Enabled()) StartSilentRetry();
}

void THallBoardForm::WebMessageReceived(const std::string& json) {
  if (FClosing) return;
  if (json == kMenuMessage) ShowMenu();
  // Someone is at the screen: the page they led to stays a while longer.
  if (json == kInputMessage && FIdleTimer->Enabled()) {
    FIdleTimer->SetEnabled(false);
    FIdleTimer->SetEnabled(true);
  }
}

void THallBoardForm::IdleWatch(const TNavCompleted& nav) {
  auto page = [](const std::string& uri) { return uri.substr(0, uri.find('#')); };
  if (nav.Source == nsOwn) {
    // The program's own navigation shows the map (or its cover): nothing to return from.
    FIdleTimer->SetEnabled(false);
    if (nav.Success && !nav.Uri.empty()) FMapPage = page(nav.Uri);
    return;
  }
  if (!nav.Success) return; // a failed one of the page's own leads back to the map anyway
  // An address the browser does not tell counts as another document: the return then only
  // reloads the map.
  const bool map = !nav.Uri.empty() && !FMapPage.empty() && page(nav.Uri) == FMapPage;
  FIdleTimer->SetEnabled(false);
  if (!map) FIdleTimer->SetEnabled(true);
}

void THallBoardForm::IdleReset() {
  FIdleTimer->SetEnabled(false);
  if (FClosing) return;
  WriteLog(IdleResetText());
  NavigateMap();
}

void THallBoardForm::ProcessFailed(int32_t kind) {
  if (FClosing) return;
  if (kind == pfRenderProcessUnresponsive) {
    // The browser repeats this every few seconds while the page hangs. One episode is one line
    // and one countdown: restarting the countdown at each repeat would put the retry off for good.
    FLastHungTick = FPorts.System.TickCount64();
    if (FHung) return;
    FHung = true;
  } else if (kind == pfBrowserProcessExited || kind == pfRenderProcessExited) {
    FHung = false; // the hung page is gone; what follows is this failure's own recovery
  }
  ReportProblem(kAppFolder, "M105", ProcessFailedText(kind));
  if (kind == pfFrameRenderProcessExited) {
    // A frame inside the page lost its renderer: the page runs on with that part blank until
    // something loads it again, so the map is opened again now, without a cover. A countdown or
    // a set-up under way already leads to a fresh page.
    if (FBrowserReady && !FConfiguring && !FRetryTimer->Enabled()) NavigateMap();
    return;
  }
  // The page itself is gone only with these kinds; a crashed GPU or utility process is
  // restarted by the browser and the page keeps running.
  if (kind != pfBrowserProcessExited && kind != pfRenderProcessExited &&
      kind != pfRenderProcessUnresponsive)
    return;
  if (kind == pfBrowserProcessExited) {
    // The web view went with the browser process: navigating must wait for a new one.
    FBrowserLost = true;
    FBrowserReady = false;
    FConfiguring = false;
    ++FBrowserGeneration;
  }
  // The countdown replaces the deadline of a navigation under way; a configuration still waiting
  // keeps its own, since the countdown cannot end that wait.
  if (!FConfiguring) FNavDeadline->SetEnabled(false);
  ShowCover(kPageCrashedTitle, kPageCrashedDetail, true);
}

void THallBoardForm::RecreateBrowser() {
  // Whatever the reason, the new browser is made from the newest runtime: a version still
  // waiting for its quiet moment is taken now, and said as such, not once more later.
  if (FVersionTimer->Enabled()) {
    FVersionTimer->SetEnabled(false);
    FOldBrowserVersion = FBrowser.BrowserVersion();
    if (FOldBrowserVersion.empty()) FOldBrowserVersion = "?";
  }
  FBrowserLost = false;
  FBrowserReady = false;
  FConfiguring = false;
  FHung = false;
  ++FBrowserGeneration;
  // The cache belongs to a web view; the new one gets it on its first navigation.
  FCacheHooked = false;
  ForgetHookedWebView(FHookedWebView);
  FHookedWebView = nullptr;
  StartCreate();
}

// ---- Resolution, map choice and navigation ----

std::function<void()> THallBoardForm::Guarded(std::function<void(THallBoardForm&)> action) {
  return [this, alive = std::weak_ptr<int>(FAlive), action = std::move(action)] {
    if (alive.expired() || FClosing) return;
    action(*this);
  };
}

void THallBoardForm::StartResolve() {
  if (FResolving || FClosing) return;
  if (FGateway.empty() && (FServerOverride.empty() || FNetBarOverride.empty())) {
    ShowCover(NoGatewayTitle(), NoGatewayDetail(SettingsPath()), false);
    return;
  }
  struct TJob {
    TResolveInputs Inputs;
    TResolveProc Resolve;
    THttpClientFactory NewHttp;
    std::function<void()> Deliver; // set once the result is known
  };
  auto job = std::make_shared<TJob>();
  job->Inputs = {FGateway, FGatewayPort, FServerOverride, FNetBarOverride};
  job->Resolve = FPorts.Resolve;
  job->NewHttp = FPorts.NewHttp;
  IUiQueue* queue = &FPorts.Queue;
  auto deliver = [this, alive = std::weak_ptr<int>(FAlive)](TResolveResult result) {
    return [this, alive, result = std::move(result)] {
      if (alive.expired() || FClosing) return;
      ResolveFinished(result);
    };
  };
  FResolving = true;
  try {
    std::thread([job, queue, deliver] {
      TResolveResult result;
      try {
        if (job->Resolve) {
          result = job->Resolve(job->Inputs);
        } else {
          std::unique_ptr<IHttpClient> http = job->NewHttp();
          result = RunResolution(job->Inputs, *http);
        }
      } catch (const std::exception& e) {
        UnreachableGateway(job->Inputs, e.what(), result);
      } catch (...) {
        UnreachableGateway(job->Inputs, "未知错误", result);
      }
      queue->Post(deliver(std::move(result)));
    }).detach();
  } catch (const std::exception& e) {
    // No thread could be started: the same outcome as a gateway that cannot be reached, with
    // the countdown to try again.
    TResolveResult result;
    UnreachableGateway(job->Inputs, e.what(), result);
    ResolveFinished(result);
  }
}

void THallBoardForm::ResolveFinished(const TResolveResult& result) {
  FResolving = false;
  if (!result.Problem.empty()) {
    ShowCover(result.Problem, result.Detail, true);
    return;
  }
  FServerUrl = result.Server;
  FNetBarId = result.NetBar;
  FStoreName = result.StoreName;
  FMaps = result.Maps;
  FCurrentMap = ChooseInitialMap(FMaps, LoadLastMap(), FMapWant);
  // A browser whose creation failed is tried again when its countdown ends, not at once.
  if (FBrowserLost && FRetryTimer->Enabled()) return;
  NavigateMap();
}

std::string THallBoardForm::DisplayUrl() const {
  return BuildDisplayUrl(FServerUrl, FNetBarId, FMaps, FCurrentMap, FMapWant);
}

void THallBoardForm::NavigateMap() {
  if (FServerUrl.empty() || FClosing) return;
  if (FBrowserLost) {
    // The navigation follows once the new browser is created and configured. A creation under
    // way is waited for; a missing runtime is looked for by its own quiet timer.
    if (!FCreating && !FRuntimeMissing) RecreateBrowser();
    return;
  }
  const bool early = FConfiguring && FBrowser.NavigatesWhileConfiguring();
  if (!FBrowserReady && !early) return;
  if (!FCacheHooked && !FGateway.empty()) {
    InstallGatewayCache(FBrowser, FServerUrl, GatewayBase(FGateway, FGatewayPort),
                        TGatewayCachePorts{&FPorts.Queue, FPorts.NewHttp, &FPorts.System});
    FCacheHooked = true;
    FHookedWebView = FBrowser.WebViewIdentity();
  }
  FRetryTimer->SetEnabled(false);
  FRetryVisible = false;
  ArmNavigationDeadline();
  if (early) FEarlyNavigation = TEarlyNavigation::enUnderway;
  FBrowser.Navigate(DisplayUrl());
}

void THallBoardForm::ChooseMap(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(FMaps.size()) || index == FCurrentMap) return;
  FCurrentMap = index;
  SaveLastMap(FMaps[static_cast<size_t>(index)].Id);
  NavigateMap();
}

void THallBoardForm::RefreshMap() {
  // A person who asks again behind the "missing" cover gets the look at once.
  if (FRuntimeMissing) {
    RuntimeRecheck();
    return;
  }
  if (!FServerUrl.empty())
    NavigateMap();
  else
    StartResolve();
}

// ---- Menu ----

void THallBoardForm::ShowMenu() {
  if (FClosing) return;
  if (FMenu && FMenu->Visible()) return;
  std::vector<TSeatMenuEntry> entries;
  const size_t count = FMaps.size();
  const char* headerHint = count >= 2   ? "选择要显示的机位图"
                           : count == 1 ? "本店只有一张机位图"
                                        : "机位图";
  entries.push_back(
      {mkHeader, FStoreName.empty() ? kAppTitle : FStoreName, headerHint, false, false, nullptr});
  if (count >= 2) {
    for (size_t i = 0; i < count; ++i) {
      const int32_t index = static_cast<int32_t>(i);
      const bool current = index == FCurrentMap;
      entries.push_back({mkMap, FMaps[i].Name, current ? "正在显示" : "", current, false,
                         Guarded([index](THallBoardForm& f) { f.ChooseMap(index); })});
    }
    entries.push_back({mkSep, "", "", false, false, nullptr});
  }
  entries.push_back(
      {mkAction, "刷新", "F5", false, false, Guarded([](THallBoardForm& f) { f.RefreshMap(); })});
  entries.push_back({mkAction, "退出机位图", "Alt+F4", false, true,
                     Guarded([](THallBoardForm& f) { f.Close(); })});
  FMenu.reset();
  // The menu takes the scale of the monitor it opens on, which need not be the window's.
  const TPoint at = FPorts.Host.CursorPos();
  int dpi = FPorts.Host.MonitorNearest(at).Dpi;
  if (dpi <= 0) dpi = kBaseDpi;
  std::unique_ptr<ICanvas> measure =
      FPorts.NewMeasureCanvas ? FPorts.NewMeasureCanvas(dpi) : nullptr;
  TTextMeasure measureText;
  if (measure)
    measureText = [c = measure.get()](const std::string& text, const TFont& font) {
      return c->MeasureText(text, font);
    };
  FMenu = std::make_unique<TSeatMenu>(FPorts.Host, FPorts.Queue, std::move(entries),
                                      dpi / static_cast<double>(kBaseDpi), measureText);
  FMenu->PopupAt(at);
}

// ---- Update ----

void THallBoardForm::UpdateTick() {
  // Changing the interval restarts the count, so the next ticks follow every three hours from
  // this one (re-enabling makes every timer implementation restart its phase).
  if (FUpdateTimer->Interval() != kUpdateIntervalMs) {
    FUpdateTimer->SetInterval(kUpdateIntervalMs);
    if (FUpdateTimer->Enabled()) {
      FUpdateTimer->SetEnabled(false);
      FUpdateTimer->SetEnabled(true);
    }
  }
  if (FUpdateChecking || FClosing) return;
  FUpdateChecking = true;

  struct TJob {
    std::string Gateway;
    TUpdateAttemptProc Attempt;
    THttpClientFactory NewHttp;
  };
  auto job = std::make_shared<TJob>();
  job->Gateway = GatewayBase(FGateway, FGatewayPort);
  job->Attempt = FPorts.UpdateAttempt;
  job->NewHttp = FPorts.NewHttp;
  IUiQueue* queue = &FPorts.Queue;
  auto finished = [this, alive = std::weak_ptr<int>(FAlive)](bool started) {
    return [this, alive, started] {
      if (alive.expired()) return;
      FUpdateChecking = false;
      if (!started || FClosing) return;
      WriteLog("UPDATE_RESTART 发现新版本，机位图退出，安装器更新后自动重新打开");
      Close();
    };
  };
  try {
    std::thread([job, queue, finished] {
      bool started = false;
      try {
        started = job->Attempt
                      ? job->Attempt(job->Gateway)
                      : RunUpdateCheck(job->Gateway, kAppVersion, kAppVersionCode, job->NewHttp);
      } catch (...) {
        // Already logged as "UPDATE_FAILED" by the check; the next tick tries again.
      }
      queue->Post(finished(started));
    }).detach();
  } catch (...) {
    FUpdateChecking = false; // no thread now; the next tick tries again
  }
}

} // namespace hb
