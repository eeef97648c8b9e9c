// The kiosk's lock-down of Chromium, over the debugging protocol. Depends on RapidJSON (messages)
// and GLib (the clock of the throttled log lines).
#include "ChromiumLockDown.h"

#include <glib.h>

#include <algorithm>
#include <cctype>

#include "ChromiumLaunch.h"
#include "display/BrowserHost.h"
#include "shell/DiagnosticLog.h"

namespace hb::lin {
namespace {

const rapidjson::Value& Member(const rapidjson::Value& o, const char* name) {
  static const rapidjson::Value kNull;
  if (!o.IsObject()) return kNull;
  auto it = o.FindMember(name);
  return it == o.MemberEnd() ? kNull : it->value;
}

enum TLogKind { lkDialog, lkOtherSite, lkWindow, lkCount };
constexpr uint64_t kLogGapMs = 60000;

// Everything the page could ask the person at the screen for. The browser answers "denied" to the
// page without a prompt; names it does not know are refused, and that is fine.
constexpr const char* kDeniedPermissions[] = {
    "geolocation",
    "notifications",
    "push",
    "midi",
    "camera",
    "microphone",
    "background-sync",
    "persistent-storage",
    "clipboard-read",
    "clipboard-write",
    "idle-detection",
    "display-capture",
    "window-management",
    "local-fonts",
    "storage-access",
    "nfc",
    "keyboard-lock",
    "pointer-lock",
    "speaker-selection",
    "captured-surface-control",
};

// Content settings the profile keeps (2: block), for the moments before the protocol's rules are
// in force.
constexpr const char* kBlockedContent[] = {
    "notifications",
    "geolocation",
    "media_stream_camera",
    "media_stream_mic",
    "midi_sysex",
    "popups",
    "automatic_downloads",
    "clipboard",
    "idle_detection",
    "window_placement",
    "local_fonts",
    "usb_guard",
    "serial_guard",
    "hid_guard",
    "bluetooth_guard",
    "file_system_write_guard",
    "sensors",
    "payment_handler",
    "protocol_handler",
    "ar",
    "vr",
    "storage_access",
    "captured_surface_control",
};

// The features no frame of the page may use, sent as the top-level document's permissions
// policy: every frame inside inherits it, a fresh frame that never ran our script included. The
// browser refuses these without asking anybody; several of them (the screen-share picker, the
// full-screen bubble, the security-key and sign-in dialogs) open over the map even with every
// permission denied, so the policy is what keeps them shut.
constexpr const char* kPermissionsPolicy =
    "camera=(), microphone=(), geolocation=(), display-capture=(), fullscreen=(), usb=(), "
    "hid=(), serial=(), bluetooth=(), midi=(), payment=(), clipboard-read=(), "
    "idle-detection=(), local-fonts=(), window-management=(), web-share=(), "
    "publickey-credentials-get=(), publickey-credentials-create=(), otp-credentials=(), "
    "identity-credentials-get=(), xr-spatial-tracking=(), captured-surface-control=(), "
    "speaker-selection=()";

} // namespace

std::string LockDownScript() {
  // Capture phase on the document, so the page's own handlers cannot stop these first; the
  // page's own handlers still see every event.
  return R"JS((function(){
var d=document,w=window;
function newWindow(a){var t=(a.getAttribute("target")||"");if(!t){var b=d.querySelector("base[target]");t=b?b.getAttribute("target"):"";}t=t.toLowerCase();
return a.hasAttribute("download")||!(t===""||t==="_self"||t==="_top"||t==="_parent");}
function colour(t){return t&&t.tagName==="INPUT"&&(t.type||"").toLowerCase()==="color";}
function click(e){var t=e.target;if(colour(t)){e.preventDefault();return;}var a=t&&t.closest?t.closest("a[href],area[href]"):null;if(!a)return;
var p=(a.protocol||"").toLowerCase();
if(e.button!==0||e.ctrlKey||e.shiftKey||e.metaKey||e.altKey||newWindow(a)||(p!=="http:"&&p!=="https:"&&p!=="javascript:"))e.preventDefault();}
d.addEventListener("click",click,true);d.addEventListener("auxclick",click,true);
d.addEventListener("mousedown",function(e){if(e.button===1)e.preventDefault();},true);
d.addEventListener("submit",function(e){var f=e.target,t=((f&&f.getAttribute&&f.getAttribute("target"))||"").toLowerCase();
if(t&&t!=="_self"&&t!=="_top"&&t!=="_parent")e.preventDefault();},true);
function outside(e){var x=e.dataTransfer,y=x&&x.types?Array.prototype.slice.call(x.types):[];return y.indexOf("Files")>=0||y.indexOf("text/uri-list")>=0;}
d.addEventListener("dragover",function(e){if(!outside(e))return;e.preventDefault();e.dataTransfer.dropEffect="none";},true);
d.addEventListener("drop",function(e){if(outside(e))e.preventDefault();},true);
d.addEventListener("keydown",function(e){if(e.key==="Escape"&&(e.shiftKey||e.ctrlKey||e.altKey))e.preventDefault();},true);
w.open=function(){return null;};["moveTo","moveBy","resizeTo","resizeBy"].forEach(function(n){w[n]=function(){};});
var picker=w.HTMLInputElement&&HTMLInputElement.prototype.showPicker;if(picker)HTMLInputElement.prototype.showPicker=function(){if(colour(this))throw new DOMException("","NotAllowedError");return picker.apply(this,arguments);};
if(w.Element&&Element.prototype.requestPointerLock)Element.prototype.requestPointerLock=function(){return Promise.reject(new DOMException("","NotAllowedError"));};
w.alert=function(){};w.confirm=function(){return false;};w.prompt=function(){return null;};w.print=function(){};
["showOpenFilePicker","showSaveFilePicker","showDirectoryPicker"].forEach(function(n){if(n in w)w[n]=function(){return Promise.reject(new DOMException("","AbortError"));};});
})();)JS";
}

void AddLockDownPreferences(rapidjson::Document& doc) {
  auto& a = doc.GetAllocator();
  auto child = [&a](rapidjson::Value& parent, const char* name) -> rapidjson::Value& {
    auto it = parent.FindMember(name);
    if (it == parent.MemberEnd()) {
      parent.AddMember(rapidjson::Value(name, a), rapidjson::Value(rapidjson::kObjectType), a);
      it = parent.FindMember(name);
    }
    if (!it->value.IsObject()) it->value.SetObject();
    return it->value;
  };
  auto set = [&a](rapidjson::Value& parent, const char* name, rapidjson::Value value) {
    auto it = parent.FindMember(name);
    if (it != parent.MemberEnd())
      it->value = value;
    else
      parent.AddMember(rapidjson::Value(name, a), value, a);
  };
  auto& settings = child(child(doc, "profile"), "default_content_setting_values");
  for (const char* name : kBlockedContent) set(settings, name, rapidjson::Value(2));
  // A download that got past the protocol's refusal would still ask where to save, in a dialog
  // we answer no: the browser's own bubble never shows.
  auto& download = child(doc, "download");
  set(download, "prompt_for_download", rapidjson::Value(false));
  set(download, "directory_upgrade", rapidjson::Value(true));
  set(child(doc, "download_bubble"), "partial_view_enabled", rapidjson::Value(false));
  // No incognito window. (Forbidding the developer tools here would forbid our protocol too.)
  set(child(doc, "incognito"), "mode_availability", rapidjson::Value(1));
  // Printing is refused in the page; the browser's own print command stays off too.
  set(child(doc, "printing"), "enabled", rapidjson::Value(false));
}

void TChromiumLockDown::BrowserStarted(std::shared_ptr<TDevToolsConnection> conn) {
  Forget();
  FConn = std::move(conn);
  if (!FConn) return;
  // Developer tools a key opened while we were not yet listening go before anything else.
  CloseForeignTargets();
  FConn->Send("Browser.setDownloadBehavior", R"({"behavior":"deny","eventsEnabled":false})");
  for (const char* name : kDeniedPermissions) {
    std::string descriptor = std::string(R"({"name":")") + name + "\"";
    if (std::string(name) == "push") descriptor += R"(,"userVisibleOnly":true)";
    if (std::string(name) == "midi") descriptor += R"(,"sysex":true)";
    FConn->Send("Browser.setPermission",
                "{\"permission\":" + descriptor + "},\"setting\":\"denied\"}");
  }
}

void TChromiumLockDown::Forget() {
  FConn.reset();
  FTargetId.clear();
  FSession.clear();
  FFrameSessions.clear();
  FScripts.clear();
  FLeaving = false;
}

void TChromiumLockDown::PageAttached(const std::string& targetId, const std::string& session,
                                     TSetupProc setup) {
  FTargetId = targetId;
  FSession = session;
  FFrameSessions.clear();
  if (!setup) return;
  setup("Page.addScriptToEvaluateOnNewDocument",
        "{\"source\":" + JsonQuote(LockDownScript()) + "}");
  // A file input's chooser would open the computer's files; with this the browser only tells us.
  setup("Page.setInterceptFileChooserDialog", R"({"enabled":true})");
  // Frames of other sites run in their own renderer: each is held until it has our scripts.
  setup("Target.setAutoAttach",
        R"({"autoAttach":true,"waitForDebuggerOnStart":true,"flatten":true})");
  // The browser holds a page created after it heard from us; ours goes on now, with our scripts.
  setup("Runtime.runIfWaitingForDebugger", "{}");
  // Now that we know our page, anything else goes, long before the map has loaded.
  CloseForeignTargets();
}

void TChromiumLockDown::ScriptAdded(const std::string& script) {
  FScripts.push_back(script);
}

void TChromiumLockDown::OwnNavigation(const std::string& url) {
  FLeaving = false; // ours replaces whatever the page went to
  const std::string origin = OriginOf(url);
  if (!origin.empty()) FOrigin = origin;
}

void TChromiumLockDown::OwnDocumentCommitted() {
  if (!FConn || FSession.empty()) return;
  // Back and forward then lead nowhere but to what followed the program's own page: never to
  // the dark start page nor to a page of an earlier choice.
  FConn->Send("Page.resetNavigationHistory", "{}", FSession);
  // Whatever opened before the program's page had the keyboard is long gone by now; a last look
  // costs one message.
  CloseForeignTargets();
}

bool TChromiumLockDown::Foreign(const rapidjson::Value& info, const std::string& own) {
  const std::string url = JsonString(info, "url");
  if (!own.empty() && JsonString(info, "targetId") == own) return false;
  // Developer tools are never ours.
  if (url.rfind("devtools://", 0) == 0) return true;
  if (JsonString(info, "type") != "page") return false;
  // Once we know our page, any other is not.
  if (!own.empty()) return true;
  // Before: ours opened on its start address, so a page with none yet, or one of the browser's
  // own (a new tab, its settings), came from a key pressed while we were not listening. Adopting
  // it would put a full browser window on the display.
  return url.empty() || url.rfind("chrome://", 0) == 0 || url.rfind("chrome-untrusted://", 0) == 0;
}

void TChromiumLockDown::CloseForeignTargets() {
  if (!FConn) return;
  // Keys that reached the browser before we could answer (the program stalled at start, no page
  // of ours had the keyboard yet) may have opened developer tools or another window, which the
  // browser announced before we listened: every target, whatever its kind, is looked at.
  FConn->Send(
      "Target.getTargets", R"({"filter":[{}]})", {},
      [conn = std::weak_ptr<TDevToolsConnection>(FConn), own = FTargetId](const TDevToolsReply& r) {
        auto c = conn.lock();
        if (!c || !r.Result) return;
        const auto& infos = Member(*r.Result, "targetInfos");
        if (!infos.IsArray()) return;
        for (const auto& info : infos.GetArray())
          if (Foreign(info, own))
            c->Send("Target.closeTarget",
                    "{\"targetId\":" + JsonQuote(JsonString(info, "targetId")) + "}");
      });
}

void TChromiumLockDown::CloseTarget(const std::string& targetId) {
  FConn->Send("Target.closeTarget", "{\"targetId\":" + JsonQuote(targetId) + "}");
  LogThrottled(lkWindow, "已关闭页面打开的新窗口");
}

bool TChromiumLockDown::OnEvent(const std::string& method, const std::string& session,
                                const rapidjson::Value& p) {
  if (!FConn) return false;
  if (method == "Page.javascriptDialogOpening") {
    // Answered at once: a dialog would stop the page's scripts and lie over the map. Leaving the
    // page is always allowed, so no prompt holds back a navigation of ours.
    const std::string type = JsonString(p, "type");
    const bool accept = type == "beforeunload" || type == "alert";
    FConn->Send("Page.handleJavaScriptDialog",
                std::string("{\"accept\":") + (accept ? "true" : "false") + "}", session);
    LogThrottled(lkDialog, "页面的对话框已自动关闭 (" + type + ")");
    return true;
  }
  if (method == "Page.fileChooserOpened") return true; // nothing opens, nothing chosen
  if (method == "Page.frameNavigated" && session == FSession && !FSession.empty()) {
    LeaveForeignDocument(Member(p, "frame"));
    return false; // the adapter follows the page's documents as well
  }
  if (method == "Page.loadEventFired" && session == FSession && FLeaving) {
    FLeaving = false;
    GoBack();
    return false;
  }
  if (method == "Target.attachedToTarget") {
    const auto& info = Member(p, "targetInfo");
    const std::string type = JsonString(info, "type");
    const std::string child = JsonString(p, "sessionId");
    if (session.empty()) {
      // Browser-wide: the adapter adopts the first page; any other page (a window that slipped
      // past the page script) closes before it runs, and anything else goes on untouched.
      if (type == "page") {
        if (!Foreign(info, FTargetId)) return false;
        CloseTarget(JsonString(info, "targetId"));
        return true;
      }
      if (!child.empty()) {
        FConn->Send("Runtime.runIfWaitingForDebugger", "{}", child);
        FConn->Send("Target.detachFromTarget", "{\"sessionId\":" + JsonQuote(child) + "}");
      }
      return true;
    }
    ChildAttached(session, p);
    return true;
  }
  if ((method == "Target.targetCreated" || method == "Target.targetInfoChanged") &&
      session.empty()) {
    // A page the auto-attachment missed (it came before our rules), or developer tools a key
    // opened before our page had the keyboard: closed as well. Developer tools show what they
    // are only once their address is in, which the browser tells as a change.
    const auto& info = Member(p, "targetInfo");
    if (!Foreign(info, FTargetId)) return false;
    CloseTarget(JsonString(info, "targetId"));
    return true;
  }
  if (method == "Target.detachedFromTarget" && session == FSession) {
    const std::string child = JsonString(p, "sessionId");
    FFrameSessions.erase(std::remove(FFrameSessions.begin(), FFrameSessions.end(), child),
                         FFrameSessions.end());
    return true;
  }
  if (!session.empty() && session != FSession &&
      std::find(FFrameSessions.begin(), FFrameSessions.end(), session) != FFrameSessions.end()) {
    // A frame of another site: only its menu request matters to the window.
    if (method == "Runtime.bindingCalled" && JsonString(p, "name") == kBindingName && OnWebMessage)
      OnWebMessage(JsonString(p, "payload"));
    return true;
  }
  return false;
}

void TChromiumLockDown::ChildAttached(const std::string& parent, const rapidjson::Value& p) {
  const std::string child = JsonString(p, "sessionId");
  if (child.empty()) return;
  const std::string type = JsonString(Member(p, "targetInfo"), "type");
  if (type != "iframe") {
    // A worker of the page: it runs as it would without us.
    FConn->Send("Runtime.runIfWaitingForDebugger", "{}", child);
    FConn->Send("Target.detachFromTarget", "{\"sessionId\":" + JsonQuote(child) + "}", parent);
    return;
  }
  FFrameSessions.push_back(child);
  FrameSetup(child);
}

void TChromiumLockDown::FrameSetup(const std::string& session) {
  // The same scripts as the page, the bridge for the menu, dialogs answered, frames inside it
  // held the same way, and only then does it run.
  FConn->Send("Page.enable", "{}", session);
  // The binding reports its calls only with the runtime's events on.
  FConn->Send("Runtime.enable", "{}", session);
  FConn->Send("Runtime.addBinding", "{\"name\":" + JsonQuote(kBindingName) + "}", session);
  FConn->Send("Page.addScriptToEvaluateOnNewDocument",
              "{\"source\":" + JsonQuote(LockDownScript()) + "}", session);
  for (const auto& s : FScripts)
    FConn->Send("Page.addScriptToEvaluateOnNewDocument", "{\"source\":" + JsonQuote(s) + "}",
                session);
  FConn->Send("Page.setInterceptFileChooserDialog", R"({"enabled":true})", session);
  FConn->Send("Target.setAutoAttach",
              R"({"autoAttach":true,"waitForDebuggerOnStart":true,"flatten":true})", session);
  FConn->Send("Runtime.runIfWaitingForDebugger", "{}", session);
}

void TChromiumLockDown::LeaveForeignDocument(const rapidjson::Value& frame) {
  // A document that never asked the network (about:blank, data:, a page's own blob) passes the
  // request filter: once it is in, the page goes back to where it came from, which is ours. The
  // browser's error page of a failed navigation is the adapter's to judge.
  if (FOrigin.empty() || !JsonString(frame, "parentId").empty() ||
      !JsonString(frame, "unreachableUrl").empty())
    return;
  const std::string url = JsonString(frame, "url");
  if (url == kStartPage || OriginOf(url) == FOrigin || url.rfind("chrome-error://", 0) == 0) return;
  LogThrottled(lkOtherSite, "已拦截页面打开其他网站 " + url.substr(0, url.find_first_of(",?#")));
  // The page is between documents until it has loaded, and answers nothing about its history.
  FLeaving = true;
}

void TChromiumLockDown::GoBack() {
  FConn->Send("Page.getNavigationHistory", "{}", FSession,
              [conn = std::weak_ptr<TDevToolsConnection>(FConn),
               session = FSession](const TDevToolsReply& r) {
                auto c = conn.lock();
                if (!c || !r.Result) return;
                const auto& entries = Member(*r.Result, "entries");
                const auto& index = Member(*r.Result, "currentIndex");
                if (!entries.IsArray() || !index.IsInt() || index.GetInt() < 1 ||
                    index.GetInt() >= static_cast<int>(entries.Size()))
                  return; // nothing of ours before it: the idle return brings the map back
                const auto& id = Member(entries[index.GetInt() - 1], "id");
                if (id.IsInt())
                  c->Send("Page.navigateToHistoryEntry",
                          "{\"entryId\":" + std::to_string(id.GetInt()) + "}", session);
              });
}

std::string TChromiumLockDown::FetchPatterns() const {
  // Documents before they are asked for: the top-level page may not leave the cloud's site.
  return R"({"urlPattern":"*","resourceType":"Document","requestStage":"Request"},)";
}

bool TChromiumLockDown::StopsDocument(const rapidjson::Value& p, const std::string& mainFrame) {
  if (!FConn || FOrigin.empty()) return false;
  if (p.HasMember("responseStatusCode") || p.HasMember("responseErrorReason")) return false;
  if (JsonString(p, "resourceType") != "Document" || JsonString(p, "frameId") != mainFrame)
    return false;
  const std::string url = JsonString(Member(p, "request"), "url");
  if (OriginOf(url) == FOrigin) return false;
  FConn->Send("Fetch.failRequest",
              "{\"requestId\":" + JsonQuote(JsonString(p, "requestId")) +
                  ",\"errorReason\":\"Aborted\"}",
              FSession);
  LogThrottled(lkOtherSite, "已拦截页面打开其他网站 " + OriginOf(url));
  return true;
}

std::string TChromiumLockDown::DocumentResponse(const rapidjson::Value& p,
                                                const std::string& mainFrame) const {
  const auto& status = Member(p, "responseStatusCode");
  const auto& headers = Member(p, "responseHeaders");
  // A redirect's headers are not the document's: the one it leads to gets the policy.
  if (!status.IsInt() || status.GetInt() / 100 == 3 || !headers.IsArray() ||
      JsonString(p, "resourceType") != "Document" || JsonString(p, "frameId") != mainFrame)
    return {};
  // Ours goes last: where the cloud names a feature too, the last word is the one that counts.
  std::string list = "[";
  for (const auto& h : headers.GetArray())
    list += "{\"name\":" + JsonQuote(JsonString(h, "name")) +
            ",\"value\":" + JsonQuote(JsonString(h, "value")) + "},";
  list += "{\"name\":\"Permissions-Policy\",\"value\":" + JsonQuote(kPermissionsPolicy) + "}]";
  return "{\"requestId\":" + JsonQuote(JsonString(p, "requestId")) +
         ",\"responseCode\":" + std::to_string(status.GetInt()) +
         ",\"responsePhrase\":" + JsonQuote(JsonString(p, "responseStatusText")) +
         ",\"responseHeaders\":" + list + "}";
}

void TChromiumLockDown::LogThrottled(int kind, const std::string& text) {
  if (kind < 0 || kind >= lkCount) return;
  const uint64_t now = static_cast<uint64_t>(g_get_monotonic_time() / 1000) + kLogGapMs;
  if (FLastLog[kind] != 0 && now - FLastLog[kind] < kLogGapMs) return;
  FLastLog[kind] = now;
  WriteLog(text);
}

} // namespace hb::lin
