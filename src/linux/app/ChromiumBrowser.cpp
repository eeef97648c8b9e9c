// The browser behind IBrowser on Linux: Debian's Chromium, started with "--remote-debugging-pipe"
// and driven over our own protocol client. Depends on GLib (spawning, child watch, idle sources)
// and RapidJSON (messages).
#include "ChromiumBrowser.h"

#include <algorithm>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "ChromiumLaunch.h"
#include "NetErrorStatus.h"
#include "UiGuard.h"
#include "shell/GatewayCache.h"
#include "shell/TestTimers.h"
#include "signature/Base64.h"

namespace hb::lin {
namespace {

// Runs proc from the main loop while token lives: events are never delivered inside the call
// that caused them, as with WebView2.
void Later(std::weak_ptr<int> token, std::function<void()> proc) {
  struct TItem {
    std::weak_ptr<int> Token;
    std::function<void()> Proc;
  };
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer p) -> gboolean {
        auto* item = static_cast<TItem*>(p);
        if (!item->Token.expired()) CallbackGuarded([&] { item->Proc(); });
        return G_SOURCE_REMOVE;
      },
      new TItem{std::move(token), std::move(proc)},
      [](gpointer p) { delete static_cast<TItem*>(p); });
}

int32_t IntMember(const rapidjson::Value& o, const char* name) {
  if (!o.IsObject()) return 0;
  auto it = o.FindMember(name);
  if (it == o.MemberEnd() || !it->value.IsNumber()) return 0;
  return static_cast<int32_t>(it->value.GetDouble());
}

const rapidjson::Value& Member(const rapidjson::Value& o, const char* name) {
  static const rapidjson::Value kNull;
  if (!o.IsObject()) return kNull;
  auto it = o.FindMember(name);
  return it == o.MemberEnd() ? kNull : it->value;
}

std::string ToJson(const rapidjson::Value& v) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  v.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

// One paused request of Fetch: the deferral and created response of IResourceRequest. It is
// made on the main loop; the gateway cache may let go of it (and so complete it) on a fetch
// thread, and the connection is the main loop's alone: from there the answer goes through it.
class TPausedRequest : public IResourceRequest {
 public:
  TPausedRequest(std::weak_ptr<TDevToolsConnection> conn, std::string session, std::string id,
                 std::string url, std::string method, std::vector<std::string> headerNames)
      : FConn(std::move(conn)), FSession(std::move(session)), FId(std::move(id)),
        FUrl(std::move(url)), FMethod(std::move(method)), FHeaderNames(std::move(headerNames)) {}
  // Called once a deferred request has been let go, from the main loop.
  std::function<void()> OnReleased;
  ~TPausedRequest() override {
    // A request must never stay paused: whoever drops it without completing lets it go on.
    if (!FDone) Finish();
  }
  std::string Uri() override { return FUrl; }
  std::string Method() override { return FMethod; }
  bool HasHeader(const std::string& name) override {
    for (const auto& h : FHeaderNames)
      if (g_ascii_strcasecmp(h.c_str(), name.c_str()) == 0) return true;
    return false;
  }
  bool Defer() override {
    if (FDone) return false;
    FDeferred = true;
    return true;
  }
  bool SetResponse(int status, const std::string& reason, const std::string& headers,
                   std::string body) override {
    if (FDone || status < 100 || status > 999) return false;
    std::string list = "[";
    size_t pos = 0;
    while (pos <= headers.size()) {
      size_t end = headers.find("\r\n", pos);
      if (end == std::string::npos) end = headers.size();
      std::string line = headers.substr(pos, end - pos);
      size_t colon = line.find(':');
      if (colon != std::string::npos && colon > 0) {
        std::string value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
        if (list.size() > 1) list += ",";
        list += "{\"name\":" + JsonQuote(line.substr(0, colon)) + ",\"value\":" + JsonQuote(value) +
                "}";
      }
      pos = end + 2;
    }
    list += "]";
    // One string, the body encoded into it in place: bodies are large.
    std::string response;
    response.reserve(list.size() + reason.size() + FId.size() + (body.size() + 2) / 3 * 4 + 128);
    response += "{\"requestId\":";
    response += JsonQuote(FId);
    response += ",\"responseCode\":";
    response += std::to_string(status);
    response += ",\"responseHeaders\":";
    response += list;
    response += ",\"body\":\"";
    AppendBase64(response, body);
    std::string().swap(body); // encoded: the raw bytes need not wait for the pipe with it
    response += '"';
    if (!reason.empty()) {
      response += ",\"responsePhrase\":";
      response += JsonQuote(reason);
    }
    response += '}';
    DropResponse();
    FResponse = std::move(response);
    // Counted against the cache's budget until the pipe has taken it (see Finish).
    FCounted = static_cast<int64_t>(FResponse.size());
    CountGatewayCacheAnswerBytes(FCounted);
    return true;
  }
  void Complete() override {
    if (!FDone) Finish();
  }
  bool Deferred() const { return FDeferred; }
  bool Done() const { return FDone; }

 private:
  void DropResponse() {
    std::string().swap(FResponse);
    if (FCounted) CountGatewayCacheAnswerBytes(-FCounted);
    FCounted = 0;
  }
  void Finish() {
    FDone = true;
    std::string method = FResponse.empty() ? "Fetch.continueRequest" : "Fetch.fulfillRequest";
    std::string params =
        FResponse.empty() ? "{\"requestId\":" + JsonQuote(FId) + "}" : std::move(FResponse);
    // The answer leaves the budget once the pipe has it, or when it is dropped unsent.
    std::function<void()> uncount;
    if (const int64_t counted = std::exchange(FCounted, 0))
      uncount = [counted] { CountGatewayCacheAnswerBytes(-counted); };
    if (std::this_thread::get_id() != FMainThread) {
      // Only while the window closes; nothing is counted any more then.
      if (uncount) uncount();
      TDevToolsConnection::SendFromMainLoop(FConn, std::move(method), std::move(params), FSession);
      return;
    }
    std::function<void()> released;
    if (FDeferred) released = std::move(OnReleased);
    auto conn = FConn.lock();
    if (!conn || !conn->Open()) { // the browser has gone, and the request with it
      if (uncount) uncount();
      if (released) released();
      return;
    }
    // Released once the browser has taken the answer in: switching interception off before that
    // could strand the request.
    TReplyProc onReply;
    if (released) onReply = [released](const TDevToolsReply&) { released(); };
    conn->Send(method, std::move(params), FSession, std::move(onReply), std::move(uncount));
  }

  std::thread::id FMainThread = std::this_thread::get_id();

  std::weak_ptr<TDevToolsConnection> FConn;
  std::string FSession, FId, FUrl, FMethod;
  std::vector<std::string> FHeaderNames;
  std::string FResponse;
  int64_t FCounted = 0; // FResponse's part of the cache's budget
  bool FDeferred = false;
  bool FDone = false;
};

// Whether the browser's address of a navigation is the one we asked for: it writes an address
// without a path with "/".
bool SameAddress(const std::string& asked, const std::string& started) {
  if (asked == started) return true;
  const size_t host = asked.find("://");
  if (host == std::string::npos || asked.find('/', host + 3) != std::string::npos) return false;
  const size_t tail = asked.find_first_of("?#", host + 3);
  std::string withPath = asked;
  withPath.insert(tail == std::string::npos ? asked.size() : tail, "/");
  return withPath == started;
}

std::shared_ptr<int> KeepAliveToken() {
  static auto token = std::make_shared<int>(0);
  return token;
}

} // namespace

TChromiumBrowser::TChromiumBrowser(std::function<TRect()> bounds)
    : FBounds(std::move(bounds)), FIdentity(std::make_shared<int>(0)) {
  FLockDown.OnWebMessage = [this](const std::string& json) {
    if (OnWebMessage) OnWebMessage(json);
  };
}

TChromiumBrowser::~TChromiumBrowser() {
  StopFilterRest();
  OnCreated = nullptr;
  OnNavigationCompleted = nullptr;
  OnWebMessage = nullptr;
  OnProcessFailed = nullptr;
  OnWindowShown = nullptr;
  FIdentity.reset();
  StopProcess();
}

void TChromiumBrowser::StopProcess() {
  if (FChildWatch) g_source_remove(FChildWatch);
  FChildWatch = 0;
  if (FConn && FConn->Open()) FConn->Send("Browser.close", "{}");
  // Closing our pipe ends also tells the browser to quit. We may be inside one of the
  // connection's own callbacks (a re-creation asked for from a browser event), so it is freed
  // from the main loop, except when the whole browser object goes.
  if (FConn && FIdentity) {
    auto old = std::move(FConn);
    old->OnEvent = nullptr;
    Later(std::weak_ptr<int>(KeepAliveToken()), [old] {});
  }
  FConn.reset();
  if (FPid > 0) {
    // Give the browser a moment to save its profile cleanly, then insist.
    for (int i = 0; i < 50; ++i) {
      if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
        FPid = 0;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      for (int i = 0; i < 50 && waitpid(FPid, nullptr, WNOHANG) != FPid; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, WNOHANG);
    }
    g_spawn_close_pid(FPid);
    FPid = 0;
  }
  ForgetSession();
}

void TChromiumBrowser::ForgetSession() {
  FSession.clear();
  FTargetId.clear();
  FAttaching = false;
  FNav = {};
  // Answers and waiters of the page that went belong to no later one.
  ++FSetupGeneration;
  FSetupPending = 0;
  FConfiguredWaiters.clear();
  StopFilterRest();
  FHeldRequests = 0;
  FNavigatesUnanswered = 0;
  FHoldingDocuments = false;
  FHeldDocuments.clear();
  FFetchPending = false;
  FPendingOwn.clear();
  FLockDown.Forget();
}

void TChromiumBrowser::FailCreate(int32_t code) {
  FCreatedReported = true;
  // Before the window has asked, a failure is not reported: its Create starts again and reports.
  if (FPrestarted) return;
  Later(FIdentity, [this, code] {
    if (OnCreated) OnCreated(code);
  });
}

void TChromiumBrowser::Prestart(const TBrowserOptions& options) {
  if (FPid > 0) return;
  Restart(options);
  FPrestarted = true; // before Start, so that even an immediate failure is held
  FPrestartOptions = options;
  Start(options);
}

void TChromiumBrowser::Create(const TBrowserOptions& options) {
  if (FPrestarted && FPid > 0 && options.UserDataFolder == FPrestartOptions.UserDataFolder &&
      options.Language == FPrestartOptions.Language &&
      options.AdditionalArgs == FPrestartOptions.AdditionalArgs) {
    // The browser started early is the one asked for: its creation is reported from here on.
    FPrestarted = false;
    if (!FCreatedReported && FReadyHeld) ReportCreated();
    return;
  }
  Restart(options);
  Start(options);
}

void TChromiumBrowser::Restart(const TBrowserOptions&) {
  FPrestarted = false;
  FReadyHeld = false;
  StopProcess();
  FIdentity = std::make_shared<int>(0); // a new web view: the form hooks it anew
  FCreatedReported = false;
  FCrashReported = false;
  FNavigated = false;
  FVersion.clear();
  FPatterns.clear();
  FResourceProc = nullptr;
}

void TChromiumBrowser::ReportCreated() {
  FReadyHeld = false;
  Later(FIdentity, [this] {
    if (FCreatedReported || FSession.empty()) return;
    FCreatedReported = true;
    if (OnCreated) OnCreated(0);
  });
}

void TChromiumBrowser::Start(const TBrowserOptions& options) {
  TChromiumLaunch launch;
  launch.Executable = FindChromium();
  if (launch.Executable.empty()) {
    FailCreate(kBrowserNotFound);
    return;
  }
  FUpgradeWatch.Watch(launch.Executable, static_cast<uint32_t>(ScaledMs(kUpgradeCheckMs)), [this] {
    if (OnNewBrowserVersion) OnNewBrowserVersion();
  });
  launch.ProfileFolder = ChromiumProfileFolder(options.UserDataFolder);
  launch.Language = options.Language.empty() ? std::string("zh-CN") : options.Language;
  launch.AdditionalArgs = options.AdditionalArgs;
  launch.Bounds = FBounds ? FBounds() : TRect{0, 0, 1280, 720};
  launch.RunningAsRoot = geteuid() == 0;
  WriteLockDownPreferences(launch.ProfileFolder, launch.Language);
  // Always the dark page: whatever the browser opens on its own runs before our lock-down is in
  // place, with the keyboard's focus, so it must be a page of ours.
  launch.StartPage = FStartUrl = kStartPage;
  FProfileFolder = launch.ProfileFolder;
  FLaunchBounds = launch.Bounds;
  FSavedWindow = {};
  LoadStartWindow(launch.ProfileFolder, FSavedWindow);

  int toBrowser[2], fromBrowser[2];
  if (pipe2(toBrowser, O_CLOEXEC) != 0) {
    FailCreate(kBrowserStartFailed);
    return;
  }
  if (pipe2(fromBrowser, O_CLOEXEC) != 0) {
    close(toBrowser[0]);
    close(toBrowser[1]);
    FailCreate(kBrowserStartFailed);
    return;
  }
  // The browser's own messages go to a file beside its profile, for support staff; the terminal
  // and our log stay readable.
  std::string logPath = launch.ProfileFolder + "chromium.log";
  int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

  std::vector<std::string> args = ChromiumArguments(launch);
  std::vector<const char*> argv;
  for (auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  gchar** env = g_get_environ();
  if (!g_environ_getenv(env, "LANGUAGE")) env = g_environ_setenv(env, "LANGUAGE", "zh_CN:zh", TRUE);
  const gint sourceFds[] = {toBrowser[0], fromBrowser[1]};
  const gint targetFds[] = {3, 4};
  GError* error = nullptr;
  GPid pid = 0;
  gboolean ok = g_spawn_async_with_pipes_and_fds(
      nullptr, argv.data(), env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, -1, logFd, logFd,
      sourceFds, targetFds, 2, &pid, nullptr, nullptr, nullptr, &error);
  g_strfreev(env);
  close(toBrowser[0]);
  close(fromBrowser[1]);
  if (logFd >= 0) close(logFd);
  if (!ok) {
    if (error) g_error_free(error);
    close(toBrowser[1]);
    close(fromBrowser[0]);
    FailCreate(kBrowserStartFailed);
    return;
  }
  FPid = pid;
  FChildWatch = g_child_watch_add(pid, &TChromiumBrowser::ChildExited, this);
  FConn = std::make_shared<TDevToolsConnection>(toBrowser[1], fromBrowser[0]);
  FConn->OnEvent = [this](const std::string& m, const std::string& s, const rapidjson::Value& p) {
    OnEvent(m, s, p);
  };
  FLockDown.BrowserStarted(FConn);
  // Asked first, so that it is known by the time the creation is reported.
  FConn->Send("Browser.getVersion", "{}", {}, [this](const TDevToolsReply& r) {
    if (r.Result) FVersion = JsonString(*r.Result, "product");
  });
  // The browser attaches us to its page as soon as it reads this, which saves asking for the
  // targets and then attaching; first, so that the page's discovery does not attach it first.
  // The discovery and the list below still find the page where this does not.
  FConn->Send("Target.setAutoAttach",
              "{\"autoAttach\":true,\"waitForDebuggerOnStart\":true,\"flatten\":true}");
  FConn->Send("Target.setDiscoverTargets", "{\"discover\":true}");
  FConn->Send("Target.getTargets", "{}", {}, [this](const TDevToolsReply& r) {
    if (!r.Result) return;
    const auto& infos = Member(*r.Result, "targetInfos");
    if (!infos.IsArray()) return;
    for (const auto& info : infos.GetArray())
      if (JsonString(info, "type") == "page" && !TChromiumLockDown::Foreign(info, {})) {
        AttachTo(JsonString(info, "targetId"));
        return;
      }
  });
}

void TChromiumBrowser::ChildExited(GPid pid, gint, gpointer p) {
  auto* self = static_cast<TChromiumBrowser*>(p);
  g_spawn_close_pid(pid);
  if (self->FPid != pid) return;
  self->FPid = 0;
  self->FChildWatch = 0;
  CallbackGuarded([&] {
    // The connection may still be delivering its last messages; it goes away from the main loop.
    auto conn = std::move(self->FConn);
    if (conn) conn->OnEvent = nullptr;
    Later(KeepAliveToken(), [conn] {});
    self->ForgetSession();
    if (!self->FCreatedReported) {
      self->FailCreate(kBrowserStartFailed);
    } else if (self->OnProcessFailed) {
      self->OnProcessFailed(pfBrowserProcessExited);
    }
  });
}

void TChromiumBrowser::AttachTo(const std::string& targetId) {
  if (FAttaching || !FSession.empty() || targetId.empty() || !FConn) return;
  FAttaching = true;
  FTargetId = targetId;
  FConn->Send("Target.attachToTarget",
              "{\"targetId\":" + JsonQuote(targetId) + ",\"flatten\":true}", {},
              [this](const TDevToolsReply& r) {
                FAttaching = false;
                if (!r.Result) return;
                FSession = JsonString(*r.Result, "sessionId");
                if (!FSession.empty()) SessionReady();
              });
}

void TChromiumBrowser::SessionReady() {
  FMainFrame = FTargetId; // a page target's id is its main frame's id
  ++FSetupGeneration;
  FSetupPending = 0;
  // A navigation's outcome comes from the page events and from the filter on documents' responses,
  // first here so that no navigation can pass it. The network events would tell it too, but they
  // cost the browser and us a message for every step of every picture the page loads.
  SendFetchEnable();
  // The page events, the bridge binding and the bridge script: the first navigation waits for the
  // browser's answer to each of them.
  SendSetup("Page.enable", "{}");
  SendSetup("Runtime.enable", "{}");
  SendSetup("Inspector.enable", "{}");
  SendSetup("Runtime.addBinding", "{\"name\":" + JsonQuote(kBindingName) + "}");
  AddScriptOnDocumentCreated(BridgeScript());
  FLockDown.PageAttached(FTargetId, FSession,
                         [this](const std::string& m, const std::string& p) { SendSetup(m, p); });
  // Until a page paints, the browser shows the window's colour instead of white.
  FConn->Send("Emulation.setDefaultBackgroundColorOverride",
              "{\"color\":{\"r\":7,\"g\":13,\"b\":24,\"a\":1}}", FSession);
  FConn->Send("Page.getFrameTree", "{}", FSession, [this](const TDevToolsReply& r) {
    if (!r.Result) return;
    std::string id = JsonString(Member(Member(*r.Result, "frameTree"), "frame"), "id");
    if (!id.empty()) FMainFrame = id;
  });
  if (OnWindowShown) OnWindowShown();
  // A window placed where the last start left it goes where the monitors now say.
  if (FBounds && !(FBounds() == FLaunchBounds)) FitToBounds();
  // Commands on the session are handled in order, so the window's configuration that follows
  // the report lands after ours without waiting for the answers.
  if (FPrestarted)
    FReadyHeld = true; // reported once the window asks for its browser
  else if (!FCreatedReported)
    ReportCreated();
}

bool TChromiumBrowser::SetSetting(TBrowserSetting setting, bool on) {
  // Everything WebView2 switches here is fixed on Chromium by its switches, the profile's
  // preferences and our bridge script, decided before the page exists. What remains is to say
  // whether the asked state is the one in force.
  switch (setting) {
  case TBrowserSetting::bsWebMessages:
    return on;
  default:
    return !on;
  }
}

void TChromiumBrowser::AddScriptOnDocumentCreated(const std::string& script) {
  if (!FConn || FSession.empty()) return;
  FLockDown.ScriptAdded(script);
  SendSetup("Page.addScriptToEvaluateOnNewDocument", "{\"source\":" + JsonQuote(script) + "}");
}

void TChromiumBrowser::SendSetup(const std::string& method, const std::string& params) {
  ++FSetupPending;
  FConn->Send(method, params, FSession,
              [this, token = std::weak_ptr<int>(FIdentity),
               generation = FSetupGeneration](const TDevToolsReply&) {
                if (token.expired()) return;
                // An answer of an earlier session (the browser or its page has gone since) counts
                // for nothing. A refused command still counts as answered: the browser has dealt
                // with it, and waiting longer would not change its answer.
                if (generation != FSetupGeneration || FSetupPending <= 0) return;
                --FSetupPending;
                CheckConfigured();
              });
}

void TChromiumBrowser::WhenConfigured(std::function<void()> proc) {
  if (FSession.empty() || !proc) return;
  FConfiguredWaiters.push_back(std::move(proc));
  // Everything may have been answered already; the waiter still runs later, never in here.
  Later(FIdentity, [this, generation = FSetupGeneration] {
    if (generation == FSetupGeneration) CheckConfigured();
  });
}

void TChromiumBrowser::CheckConfigured() {
  if (FSetupPending > 0) return;
  ReleaseDocuments();
  if (FConfiguredWaiters.empty()) return;
  auto waiters = std::move(FConfiguredWaiters);
  FConfiguredWaiters.clear();
  for (auto& w : waiters) w();
}

void TChromiumBrowser::Navigate(const std::string& url) {
  if (!FConn || FSession.empty()) return;
  FNavigated = true;
  // Commands on the session are handled in order: the cache's patterns are in place before the
  // request, and while the set-up is unanswered, the document's response is held.
  if (FSetupPending > 0) FHoldingDocuments = true;
  FlushFetchEnable();
  ++FNavigatesUnanswered;
  FLockDown.OwnNavigation(url);
  const uint64_t seq = ++FOwnSeq;
  FPendingOwn.emplace_back(seq, url);
  FConn->Send("Page.navigate", "{\"url\":" + JsonQuote(url) + "}", FSession,
              [this, token = std::weak_ptr<int>(FIdentity), generation = FSetupGeneration,
               seq](const TDevToolsReply& r) {
                if (token.expired() || generation != FSetupGeneration) return;
                if (FNavigatesUnanswered > 0) --FNavigatesUnanswered;
                std::erase_if(FPendingOwn, [seq](const auto& e) { return e.first == seq; });
                if (!r.Result) return;
                std::string error = JsonString(*r.Result, "errorText");
                std::string loader = JsonString(*r.Result, "loaderId");
                // The browser may have written the address otherwise than we did: its answer
                // names the navigation for sure.
                if (FNav.Active && !loader.empty() && loader == FNav.LoaderId) FNav.OwnSeq = seq;
                if (error.empty() || error == "net::ERR_ABORTED") return;
                // The page events may already have reported this navigation.
                if (FNav.Active && !loader.empty() && loader != FNav.LoaderId) return;
                if (!FNav.Active && !loader.empty() && loader == FNav.LoaderId) return;
                FNav.Active = true;
                FNav.OwnSeq = seq;
                FinishNavigation(false, WebErrorStatusOf(error));
              });
  // After the command: the files' writes may wait for the disk.
  RememberStart(url);
}

void TChromiumBrowser::RememberStart(const std::string&) {
  if (FProfileFolder.empty()) return;
  const TRect window = FBounds ? FBounds() : FLaunchBounds;
  if (!(window == FSavedWindow) && SaveStartWindow(FProfileFolder, window)) FSavedWindow = window;
}

void TChromiumBrowser::NavigationStarted(const std::string& loaderId, const std::string& url) {
  // Before the window asks for its first page, only a start page can be navigating.
  if (!FNavigated || loaderId.empty()) return;
  // Told twice, or over already with its outcome reported.
  if (FNav.LoaderId == loaderId) return;
  FNav = {};
  FNav.Active = true;
  FNav.LoaderId = loaderId;
  FCrashReported = false;
  // Ours when it goes where one of our commands still unanswered goes (the answer confirms it).
  for (const auto& [seq, own] : FPendingOwn)
    if (SameAddress(own, url)) FNav.OwnSeq = seq;
}

void TChromiumBrowser::FinishNavigation(bool success, int32_t webError) {
  if (!FNav.Active) return;
  FNav.Active = false;
  TNavCompleted nav;
  nav.HttpStatus = FNav.HttpStatus;
  nav.Success = success && (nav.HttpStatus == 0 || nav.HttpStatus < 400);
  nav.WebErrorStatus = nav.Success ? 0 : webError;
  nav.NavigationId = ++FNavigationCount;
  nav.Source = FNav.OwnSeq == 0 ? nsPage : FNav.OwnSeq == FOwnSeq ? nsOwn : nsReplaced;
  nav.Uri = FNav.Url;
  if (OnNavigationCompleted) OnNavigationCompleted(nav);
}

bool TChromiumBrowser::AddResourceFilter(const std::string& uriPattern) {
  if (!FConn || FSession.empty()) return false;
  FPatterns.push_back(uriPattern);
  StopFilterRest();
  // The cache adds its patterns one by one; each filter change makes the browser rebuild the
  // page's loaders, so the browser gets one change for all of them, sent when this turn of the
  // main loop is over or before the next navigation, whichever comes first.
  if (!FFetchPending) {
    FFetchPending = true;
    Later(FIdentity, [this] { FlushFetchEnable(); });
  }
  return true;
}

bool TChromiumBrowser::SetResourceRequestedHandler(TResourceRequestedProc proc) {
  if (!FConn || FSession.empty()) return false;
  FResourceProc = std::move(proc);
  return true;
}

void TChromiumBrowser::FlushFetchEnable() {
  if (!FFetchPending) return;
  FFetchPending = false;
  // A rest that began meanwhile switched the filter off; its end sends the patterns.
  if (FConn && !FSession.empty() && !FFilterResting) SendFetchEnable();
}

void TChromiumBrowser::SendFetchEnable() {
  FFetchPending = false;
  std::string list = "[";
  if (!FFilterResting)
    for (const auto& p : FPatterns) {
      list += "{\"urlPattern\":" + JsonQuote(p) + ",\"requestStage\":\"Request\"},";
    }
  list += FLockDown.FetchPatterns();
  list += "{\"urlPattern\":\"*\",\"resourceType\":\"Document\",\"requestStage\":\"Response\"}]";
  FConn->Send("Fetch.enable", "{\"patterns\":" + list + "}", FSession);
}

void TChromiumBrowser::ContinueDocument(const std::string& id, const std::string& response) {
  if (!response.empty())
    FConn->Send("Fetch.continueResponse", response, FSession);
  else
    FConn->Send("Fetch.continueRequest", "{\"requestId\":" + JsonQuote(id) + "}", FSession);
}

void TChromiumBrowser::ReleaseDocuments() {
  if (!FHoldingDocuments) return;
  FHoldingDocuments = false;
  if (!FConn || FSession.empty()) return;
  // A document whose navigation was replaced meanwhile is gone; the browser's refusal is fine.
  for (const auto& [id, response] : FHeldDocuments) ContinueDocument(id, response);
  FHeldDocuments.clear();
  MaybeRestFilters();
}

void TChromiumBrowser::ResourcePaused(const rapidjson::Value& p) {
  std::string id = JsonString(p, "requestId");
  if (id.empty()) return;
  if (FLockDown.StopsDocument(p, FMainFrame)) {
    // The navigation to another site ends as cancelled, as one the page stopped itself.
    if (FNav.Active && JsonString(p, "networkId") == FNav.LoaderId)
      FinishNavigation(false, wsOperationCanceled);
    return;
  }
  if (p.HasMember("responseStatusCode") || p.HasMember("responseErrorReason")) {
    // A document's response: the main frame's is that of the navigation under way, and tells how
    // it went.
    const std::string reason = JsonString(p, "responseErrorReason");
    const bool ours = FNav.Active && JsonString(p, "resourceType") == "Document" &&
                      JsonString(p, "frameId") == FMainFrame;
    if (ours) {
      if (!reason.empty())
        FNav.ErrorStatus = WebErrorStatusOfReason(reason);
      else
        FNav.HttpStatus = IntMember(p, "responseStatusCode");
    }
    // Held for the set-up, it goes on once every answer is in.
    std::string response = reason.empty() ? FLockDown.DocumentResponse(p, FMainFrame) : "";
    if (FHoldingDocuments && FSetupPending > 0)
      FHeldDocuments.emplace_back(id, std::move(response));
    else
      ContinueDocument(id, response);
    // A failure ends the navigation here unless an answer to our Page.navigate will name its
    // exact net error, or the browser's error page commits. An abort is a newer navigation's.
    if (ours && !reason.empty() && reason != "Aborted" && FNavigatesUnanswered == 0)
      FinishNavigation(false, FNav.ErrorStatus);
    return;
  }
  const auto& request = Member(p, "request");
  std::vector<std::string> names;
  const auto& headers = Member(request, "headers");
  if (headers.IsObject())
    for (auto it = headers.MemberBegin(); it != headers.MemberEnd(); ++it)
      names.emplace_back(it->name.GetString(), it->name.GetStringLength());
  auto req = std::make_shared<TPausedRequest>(FConn, FSession, id, JsonString(request, "url"),
                                              JsonString(request, "method"), std::move(names));
  if (FResourceProc) FResourceProc(req);
  // Without a deferral the request goes on as soon as the handler returns (the destructor would
  // do it too, but only when the last reference goes).
  if (!req->Deferred()) {
    req->Complete();
  } else if (!req->Done()) { // a handler may defer and answer before it returns
    ++FHeldRequests;
    // Requests of an earlier session (a browser since re-created) are not counted in this one.
    req->OnReleased = [this, token = std::weak_ptr<int>(FIdentity), session = FSession] {
      if (token.expired() || session != FSession) return;
      if (FHeldRequests > 0) --FHeldRequests;
      MaybeRestFilters();
    };
  }
  MaybeRestFilters();
}

void TChromiumBrowser::MaybeRestFilters() {
  // Only with nothing held: a fetch still under way must be able to answer its request.
  if (FFilterResting || FHeldRequests > 0 || FHoldingDocuments || FPatterns.empty() ||
      !FilterRestMs || !FConn || FSession.empty())
    return;
  uint64_t ms = FilterRestMs();
  if (ms == 0) return;
  FFilterResting = true;
  SendFetchEnable();
  ArmFilterWake(ms);
}

void TChromiumBrowser::ArmFilterWake(uint64_t ms) {
  // Looked at again at least every second: a later pause may end sooner (the last one wins).
  guint wait = static_cast<guint>(std::min<uint64_t>(ms, 1000)) + 1;
  FFilterWake = g_timeout_add(wait, &TChromiumBrowser::FilterWake, this);
}

gboolean TChromiumBrowser::FilterWake(gpointer p) {
  auto* self = static_cast<TChromiumBrowser*>(p);
  self->FFilterWake = 0;
  Guarded([&] {
    if (!self->FFilterResting) return;
    uint64_t ms = self->FilterRestMs ? self->FilterRestMs() : 0;
    if (ms > 0) return self->ArmFilterWake(ms);
    self->FFilterResting = false;
    if (self->FConn && !self->FSession.empty() && !self->FPatterns.empty()) self->SendFetchEnable();
  });
  return G_SOURCE_REMOVE;
}

void TChromiumBrowser::StopFilterRest() {
  if (FFilterWake) g_source_remove(FFilterWake);
  FFilterWake = 0;
  FFilterResting = false;
}

void TChromiumBrowser::OnEvent(const std::string& method, const std::string& session,
                               const rapidjson::Value& p) {
  if (FLockDown.OnEvent(method, session, p)) return;
  if (session.empty()) {
    if (method == "Target.targetCreated") {
      const auto& info = Member(p, "targetInfo");
      if (JsonString(info, "type") == "page") AttachTo(JsonString(info, "targetId"));
    } else if (method == "Target.attachedToTarget") {
      const auto& info = Member(p, "targetInfo");
      std::string session = JsonString(p, "sessionId");
      // The first page is ours; any later one (a page the site opened) stays unattended.
      if (JsonString(info, "type") != "page" || session.empty() || !FSession.empty() || FAttaching)
        return;
      FTargetId = JsonString(info, "targetId");
      FSession = session;
      SessionReady();
    } else if (method == "Target.targetCrashed" && JsonString(p, "targetId") == FTargetId) {
      if (!FCrashReported) {
        FCrashReported = true;
        FNav = {};
        if (OnProcessFailed) OnProcessFailed(pfRenderProcessExited);
      }
    }
    return;
  }
  if (session != FSession) return;
  if (method == "Page.frameStartedNavigating") {
    // A newer navigation replaces one still under way, which never reports. The window's start
    // pages are none of the window's navigations, even when one begins after its first Navigate
    // (the browser reads our pipe late in its own start).
    const std::string type = JsonString(p, "navigationType");
    const std::string url = JsonString(p, "url");
    if (JsonString(p, "frameId") == FMainFrame && type != "sameDocument" &&
        type != "historySameDocument" && url != FStartUrl && url != kStartPage)
      NavigationStarted(JsonString(p, "loaderId"), url);
  } else if (method == "Page.loadEventFired") {
    if (FNav.Committed) FinishNavigation(true, wsUnknown);
  } else if (method == "Page.frameNavigated") {
    const auto& frame = Member(p, "frame");
    if (JsonString(frame, "parentId").empty()) {
      std::string id = JsonString(frame, "id");
      if (!id.empty()) FMainFrame = id;
      // A web page before the window asked for its page can only be the last start's map (or
      // where it led), and may have come in before our scripts were in place: it makes way for
      // the dark page at once, unseen under the cover.
      const std::string url = JsonString(frame, "url");
      if (!FNavigated && (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0))
        FConn->Send("Page.navigate", "{\"url\":" + JsonQuote(kStartPage) + "}", FSession);
      if (FNav.Active && JsonString(frame, "loaderId") == FNav.LoaderId) {
        // A failed navigation commits the browser's error page in its document's place.
        FNav.Url = url + JsonString(frame, "urlFragment");
        if (FNav.OwnSeq != 0) FLockDown.OwnDocumentCommitted();
        if (!JsonString(frame, "unreachableUrl").empty())
          FinishNavigation(false, FNav.ErrorStatus); // wsUnknown when none was given
        else
          FNav.Committed = true;
      }
    }
  } else if (method == "Fetch.requestPaused") {
    ResourcePaused(p);
  } else if (method == "Runtime.bindingCalled") {
    if (JsonString(p, "name") == kBindingName && OnWebMessage)
      OnWebMessage(JsonString(p, "payload"));
  } else if (method == "Inspector.targetCrashed") {
    if (!FCrashReported) {
      FCrashReported = true;
      FNav = {};
      if (OnProcessFailed) OnProcessFailed(pfRenderProcessExited);
    }
  }
}

void TChromiumBrowser::Activate() {
  if (FConn && !FTargetId.empty())
    FConn->Send("Target.activateTarget", "{\"targetId\":" + JsonQuote(FTargetId) + "}");
}

void TChromiumBrowser::MoveFocus() {
  // Activating the page's target gives its window the keyboard and the page the focus.
  Activate();
}

void TChromiumBrowser::FitToBounds() {
  if (!FConn || FTargetId.empty() || !FBounds) return;
  const TRect b = FBounds();
  char bounds[160];
  std::snprintf(bounds, sizeof bounds,
                "{\"left\":%d,\"top\":%d,\"width\":%d,\"height\":%d,\"windowState\":\"normal\"}",
                b.Left, b.Top, b.Width, b.Height);
  FConn->Send("Browser.getWindowForTarget", "{\"targetId\":" + JsonQuote(FTargetId) + "}", {},
              // Weak: the connection holds this reply handler, so a strong capture would keep
              // the connection alive for as long as the browser leaves the call unanswered.
              [weak = std::weak_ptr<TDevToolsConnection>(FConn),
               bounds = std::string(bounds)](const TDevToolsReply& r) {
                auto conn = weak.lock();
                if (!conn || !r.Result || !r.Result->IsObject()) return;
                auto id = r.Result->FindMember("windowId");
                if (id == r.Result->MemberEnd() || !id->value.IsInt()) return;
                conn->Send("Browser.setWindowBounds",
                           "{\"windowId\":" + std::to_string(id->value.GetInt()) +
                               ",\"bounds\":" + bounds + "}");
              });
}

void TChromiumBrowser::CrashRenderer() {
  if (FConn && !FSession.empty())
    FConn->Send("Page.navigate", "{\"url\":\"chrome://crash\"}", FSession);
}

void TChromiumBrowser::Evaluate(const std::string& expression,
                                std::function<void(const std::string&)> done) {
  if (!FConn || FSession.empty()) {
    done("error: no page");
    return;
  }
  FConn->Send("Runtime.evaluate",
              "{\"expression\":" + JsonQuote(expression) +
                  ",\"returnByValue\":true,\"awaitPromise\":true}",
              FSession, [done](const TDevToolsReply& r) {
                if (!r.Result) return done("error: " + r.Error);
                const auto& ex = Member(*r.Result, "exceptionDetails");
                if (!ex.IsNull()) return done("error: " + ToJson(ex));
                const auto& value = Member(Member(*r.Result, "result"), "value");
                done(ToJson(value));
              });
}

} // namespace hb::lin
