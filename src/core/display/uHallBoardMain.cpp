#include "display/uHallBoardMain.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <thread>

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
  // The web view goes with the window; its identity may be reused by a later one.
  ForgetHookedWebView(FHookedWebView);
  FMenu.reset();
  FRetryTimer.reset();
  FUpdateTimer.reset();
  FAlive.reset();
}

// ---- Events from the shell ----

void THallBoardForm::FirstShow() {
  if (FShown) return;
  FShown = true;
  FBrowser.Create(FBrowserOptions);
  StartResolve();
  if (!FGateway.empty()) FUpdateTimer->SetEnabled(true);
}

void THallBoardForm::PaintCover(ICanvas& canvas) {
  PaintCoverTo(canvas, FCover, FCoverLayout, FCoverTitle.Text, FCoverDetail.Text, FCoverHint.Text);
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
  FCoverLayout = hb::LayoutCover(FCover);
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
  if (!FServerUrl.empty()) {
    NavigateMap();
  } else {
    FCoverDetail.Text = kReconnectingDetail;
    FPorts.Host.InvalidateCover();
    StartResolve();
  }
}

void THallBoardForm::PlaceOnMonitor() {
  const std::vector<TMonitor> monitors = FPorts.Host.Monitors();
  if (monitors.empty()) return; // nothing to place on; the shell's default placement stays
  int64_t i = static_cast<int64_t>(FMonitor) - 1;
  if (i < 0 || i >= static_cast<int64_t>(monitors.size())) i = 0;
  FPorts.Host.PlaceWindow(monitors[static_cast<size_t>(i)].Bounds);
}

// ---- Browser side ----

void THallBoardForm::BrowserCreated(int32_t result) {
  if (FClosing) return;
  if (result < 0) {
    const std::string tag = ReportProblem(kAppFolder, "M103", BrowserInitFailedText(result));
    const std::string title =
        FPorts.MissingBrowserTitle.empty() ? kMissingRuntimeTitle : FPorts.MissingBrowserTitle;
    const std::string advice =
        FPorts.MissingBrowserAdvice.empty() ? kMissingRuntimeAdvice : FPorts.MissingBrowserAdvice;
    ShowCover(title, advice + tag, false);
    return;
  }
  ConfigureBrowser();
}

void THallBoardForm::ConfigureBrowser() {
  LockDownBrowser(FBrowser);
  HardenBrowser(FBrowser);
  FBrowser.AddScriptOnDocumentCreated(PageScriptWithPrefix(FHideCursor));
  AddNavCompletedHandler(FBrowser, [this](const TNavCompleted& nav) { NavigationOutcome(nav); });
  FBrowserReady = true;
  NavigateMap();
}

void THallBoardForm::NavigationOutcome(const TNavCompleted& nav) {
  if (FClosing) return;
  if (nav.Success || nav.HttpStatus != 0) {
    // Hiding first may stop a running countdown; an error status then starts it again.
    HideCover();
    if (nav.HttpStatus >= 400) StartSilentRetry();
    return;
  }
  ReportProblem(kAppFolder, "M104", NavigationFailedText(nav.WebErrorStatus));
  ShowCover(kCloudUnreachableTitle, kCloudUnreachableDetail, true);
}

void THallBoardForm::WebMessageReceived(const std::string& json) {
  if (FClosing) return;
  if (json == kMenuMessage) ShowMenu();
}

void THallBoardForm::ProcessFailed(int32_t kind) {
  if (FClosing) return;
  ReportProblem(kAppFolder, "M105", ProcessFailedText(kind));
  // The page itself is gone only with these kinds; a crashed GPU or utility process is
  // restarted by the browser and the page keeps running.
  if (kind != pfBrowserProcessExited && kind != pfRenderProcessExited &&
      kind != pfRenderProcessUnresponsive)
    return;
  if (kind == pfBrowserProcessExited) {
    // The web view went with the browser process: navigating must wait for a new one.
    FBrowserLost = true;
    FBrowserReady = false;
  }
  ShowCover(kPageCrashedTitle, kPageCrashedDetail, true);
}

void THallBoardForm::RecreateBrowser() {
  FBrowserLost = false;
  FBrowserReady = false;
  // The cache belongs to a web view; the new one gets it on its first navigation.
  FCacheHooked = false;
  ForgetHookedWebView(FHookedWebView);
  FHookedWebView = nullptr;
  FBrowser.Create(FBrowserOptions);
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
  NavigateMap();
}

std::string THallBoardForm::DisplayUrl() const {
  return BuildDisplayUrl(FServerUrl, FNetBarId, FMaps, FCurrentMap, FMapWant);
}

void THallBoardForm::NavigateMap() {
  if (FServerUrl.empty() || FClosing) return;
  if (FBrowserLost) {
    // The navigation follows once the new browser is created and configured.
    RecreateBrowser();
    return;
  }
  if (!FBrowserReady) return;
  if (!FCacheHooked && !FGateway.empty()) {
    InstallGatewayCache(FBrowser, FServerUrl, GatewayBase(FGateway, FGatewayPort),
                        TGatewayCachePorts{&FPorts.Queue, FPorts.NewHttp, &FPorts.System});
    FCacheHooked = true;
    FHookedWebView = FBrowser.WebViewIdentity();
  }
  FRetryTimer->SetEnabled(false);
  FRetryVisible = false;
  FBrowser.Navigate(DisplayUrl());
}

void THallBoardForm::ChooseMap(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(FMaps.size()) || index == FCurrentMap) return;
  FCurrentMap = index;
  SaveLastMap(FMaps[static_cast<size_t>(index)].Id);
  NavigateMap();
}

void THallBoardForm::RefreshMap() {
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
  FMenu = std::make_unique<TSeatMenu>(FPorts.Host, FPorts.Queue, std::move(entries),
                                      FPorts.ScaleFactor, FPorts.MeasureText);
  FMenu->PopupAt(FPorts.Host.CursorPos());
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
