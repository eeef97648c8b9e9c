// The kiosk's lock-down of WebView2: one handler object per event, written by hand, each answering
// QueryInterface for its official id. Depends on the runtime's COM interfaces (WebView2Abi.h).
#include "WebView2LockDown.h"

#include <windows.h>

#include "ComPtr.h"
#include "UiGuard.h"
#include "WinText.h"
#include "display/BrowserHost.h"
#include "shell/DiagnosticLog.h"

namespace hb::win {

using namespace wv2;

namespace {

enum TLogKind { lkDialog, lkOtherSite, lkWindow, lkPermission, lkDownload, lkHistory };
static_assert(lkHistory < TWebView2LockState::kLogKinds);
constexpr uint64_t kLogGapMs = 60000;

std::string TakeUri(LPWSTR uri) {
  if (!uri) return {};
  std::string out = Utf8(uri, wcslen(uri));
  CoTaskMemFree(uri);
  return out;
}

using TState = std::shared_ptr<TWebView2LockState>;

// The runtime's default opens a popup window of its own, with an address bar and without our
// lock-down: handled, with no window given, nothing opens.
class TNewWindowHandler : public TComObject<ICoreWebView2NewWindowRequestedEventHandler> {
 public:
  explicit TNewWindowHandler(TState state)
      : TComObject(IID_ICoreWebView2NewWindowRequestedEventHandler), FState(std::move(state)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2NewWindowRequestedEventArgs* args) override {
    CallbackGuarded([&] {
      if (!args) return;
      args->put_Handled(TRUE);
      FState->LogThrottled(lkWindow, "已拦截页面打开的新窗口");
    });
    return S_OK;
  }

 private:
  TState FState;
};

// Answered at once, so the page's scripts never stop and nothing lies over the map: alerts are
// confirmed, leaving the page is allowed (no prompt holds back a navigation of ours), confirm and
// prompt are cancelled.
class TScriptDialogHandler : public TComObject<ICoreWebView2ScriptDialogOpeningEventHandler> {
 public:
  explicit TScriptDialogHandler(TState state)
      : TComObject(IID_ICoreWebView2ScriptDialogOpeningEventHandler), FState(std::move(state)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2ScriptDialogOpeningEventArgs* args) override {
    CallbackGuarded([&] {
      if (!args) return;
      COREWEBVIEW2_SCRIPT_DIALOG_KIND kind = COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT;
      args->get_Kind(&kind);
      if (kind == COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT ||
          kind == COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD)
        args->Accept();
      static const char* const kNames[] = {"alert", "confirm", "prompt", "beforeunload"};
      const char* name = kind >= 0 && kind <= 3 ? kNames[kind] : "?";
      FState->LogThrottled(lkDialog, std::string("页面的对话框已自动关闭 (") + name + ")");
    });
    return S_OK;
  }

 private:
  TState FState;
};

// Denied without a prompt: a passer-by's "Allow" would be kept for good.
class TPermissionHandler : public TComObject<ICoreWebView2PermissionRequestedEventHandler> {
 public:
  explicit TPermissionHandler(TState state)
      : TComObject(IID_ICoreWebView2PermissionRequestedEventHandler), FState(std::move(state)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2PermissionRequestedEventArgs* args) override {
    CallbackGuarded([&] {
      if (!args) return;
      args->put_State(COREWEBVIEW2_PERMISSION_STATE_DENY);
      FState->LogThrottled(lkPermission, "已拒绝页面申请的权限");
    });
    return S_OK;
  }

 private:
  TState FState;
};

// The top-level page stays in the cloud's origin; anything else is cancelled, and ends as a
// cancelled navigation. Back and forward are cancelled too, wherever they lead: the history holds
// pages the program has since left (an older address, an error page), and the runtime offers no
// way to clear it. Telling them apart takes the third arguments generation; an older runtime
// offers none, and there back and forward within the cloud's origin still go ahead (those to
// other origins are cancelled as any other).
class TNavigationStartingHandler : public TComObject<ICoreWebView2NavigationStartingEventHandler> {
 public:
  explicit TNavigationStartingHandler(TState state)
      : TComObject(IID_ICoreWebView2NavigationStartingEventHandler), FState(std::move(state)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2NavigationStartingEventArgs* args) override {
    CallbackGuarded([&] {
      if (!args) return;
      COREWEBVIEW2_NAVIGATION_KIND kind = COREWEBVIEW2_NAVIGATION_KIND_NEW_DOCUMENT;
      if (auto args3 = TComPtr<ICoreWebView2NavigationStartingEventArgs>::Share(args)
                           .As<ICoreWebView2NavigationStartingEventArgs3>(
                               IID_ICoreWebView2NavigationStartingEventArgs3);
          args3 && SUCCEEDED(args3->get_NavigationKind(&kind)) &&
          kind == COREWEBVIEW2_NAVIGATION_KIND_BACK_OR_FORWARD) {
        args->put_Cancel(TRUE);
        FState->LogThrottled(lkHistory, "已拦截页面的后退/前进");
        return;
      }
      if (FState->Origin.empty()) return;
      LPWSTR raw = nullptr;
      if (FAILED(args->get_Uri(&raw))) return;
      const std::string uri = TakeUri(raw);
      const std::string origin = OriginOf(uri);
      if (origin == FState->Origin) return;
      args->put_Cancel(TRUE);
      FState->LogThrottled(lkOtherSite, "已拦截页面打开其他网站 " +
                                            (origin.empty() ? uri.substr(0, 60) : origin));
    });
    return S_OK;
  }

 private:
  TState FState;
};

// Unhandled, the runtime saves the file to the Downloads folder and opens its download panel over
// the map: cancelled, and handled so no panel shows either.
class TDownloadHandler : public TComObject<ICoreWebView2DownloadStartingEventHandler> {
 public:
  explicit TDownloadHandler(TState state)
      : TComObject(IID_ICoreWebView2DownloadStartingEventHandler), FState(std::move(state)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2DownloadStartingEventArgs* args) override {
    CallbackGuarded([&] {
      if (!args) return;
      args->put_Cancel(TRUE);
      args->put_Handled(TRUE);
      FState->LogThrottled(lkDownload, "已拦截页面发起的下载");
    });
    return S_OK;
  }

 private:
  TState FState;
};

} // namespace

void TWebView2LockState::OwnNavigation(const std::string& url) {
  const std::string origin = OriginOf(url);
  if (!origin.empty()) Origin = origin;
}

void TWebView2LockState::LogThrottled(int kind, const std::string& text) {
  if (kind < 0 || kind >= kLogKinds) return;
  const uint64_t now = GetTickCount64() + kLogGapMs; // never 0, which means "not yet"
  if (LastLog[kind] != 0 && now - LastLog[kind] < kLogGapMs) return;
  LastLog[kind] = now;
  WriteLog(text);
}

bool LockDownWebView(ICoreWebView2* webView, ICoreWebView2Controller* controller,
                     std::shared_ptr<TWebView2LockState> state) {
  if (!webView || !state) return false;
  bool all = true;
  TComPtr<ICoreWebView2Settings> settings;
  // Without the runtime's own dialogs, every dialog comes to our handler.
  if (FAILED(webView->get_Settings(settings.Put())) || !settings ||
      FAILED(settings->put_AreDefaultScriptDialogsEnabled(FALSE)))
    all = false;
  EventRegistrationToken token{};
  auto window =
      TComPtr<ICoreWebView2NewWindowRequestedEventHandler>::Attach(new TNewWindowHandler(state));
  auto dialog = TComPtr<ICoreWebView2ScriptDialogOpeningEventHandler>::Attach(
      new TScriptDialogHandler(state));
  auto permission =
      TComPtr<ICoreWebView2PermissionRequestedEventHandler>::Attach(new TPermissionHandler(state));
  auto starting = TComPtr<ICoreWebView2NavigationStartingEventHandler>::Attach(
      new TNavigationStartingHandler(state));
  all = SUCCEEDED(webView->add_NewWindowRequested(window.Get(), &token)) && all;
  all = SUCCEEDED(webView->add_ScriptDialogOpening(dialog.Get(), &token)) && all;
  all = SUCCEEDED(webView->add_PermissionRequested(permission.Get(), &token)) && all;
  all = SUCCEEDED(webView->add_NavigationStarting(starting.Get(), &token)) && all;
  // Downloads come with the fourth web view generation. An older runtime offers no event for
  // them: nothing here can stop its downloads, which it saves and shows as it always has.
  if (auto webView4 =
          TComPtr<ICoreWebView2>::Share(webView).As<ICoreWebView2_4>(IID_ICoreWebView2_4)) {
    auto download =
        TComPtr<ICoreWebView2DownloadStartingEventHandler>::Attach(new TDownloadHandler(state));
    all = SUCCEEDED(webView4->add_DownloadStarting(download.Get(), &token)) && all;
  }
  // A file dragged onto the display would open in a window of its own, outside the lock-down.
  // Refusing it takes the fourth controller generation; older runtimes keep allowing it.
  if (auto controller4 = TComPtr<ICoreWebView2Controller>::Share(controller)
                             .As<ICoreWebView2Controller4>(IID_ICoreWebView2Controller4))
    all = SUCCEEDED(controller4->put_AllowExternalDrop(FALSE)) && all;
  return all;
}

} // namespace hb::win
