// The kiosk's lock-down of WebView2: one handler object per event, written by hand, each answering
// QueryInterface for its official id. Depends on the runtime's COM interfaces (WebView2Abi.h).
#include "WebView2LockDown.h"

#include <windows.h>

#include <cctype>

#include "ComPtr.h"
#include "UiGuard.h"
#include "WinText.h"
#include "display/BrowserHost.h"
#include "shell/DiagnosticLog.h"

namespace hb::win {

using namespace wv2;

namespace {

enum TLogKind {
  lkDialog,
  lkOtherSite,
  lkWindow,
  lkPermission,
  lkDownload,
  lkHistory,
  lkExternal,
  lkSignIn,
  lkCertificate,
  lkSaveAs,
  lkScreenCapture
};
static_assert(lkScreenCapture < TWebView2LockState::kLogKinds);
constexpr uint64_t kLogGapMs = 60000;

std::string TakeUri(LPWSTR uri) {
  if (!uri) return {};
  std::string out = Utf8(uri, wcslen(uri));
  CoTaskMemFree(uri);
  return out;
}

using TState = std::shared_ptr<TWebView2LockState>;

// The schemes the browser handles itself (a frame's javascript: link runs in the frame). Any other
// (mailto:, ms-settings:, search-ms:, ms-windows-store: ...) hands the address to another program
// on the computer, after the runtime's "open this app?" prompt, which a passer-by can accept.
bool IsWebScheme(const std::string& uri) {
  const size_t colon = uri.find(':');
  if (colon == std::string::npos) return true; // not an address with a scheme: nothing to launch
  std::string scheme = uri.substr(0, colon);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* web : {"http", "https", "about", "data", "blob", "javascript"})
    if (scheme == web) return true;
  return false;
}

// Logs the cancelled launch of another program by its scheme only: the rest may be anything.
void LogExternal(TWebView2LockState& state, const std::string& uri) {
  state.LogThrottled(lkExternal, "已拦截页面打开外部程序 " + uri.substr(0, uri.find(':') + 1));
}

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
      LPWSTR raw = nullptr;
      if (FAILED(args->get_Uri(&raw))) return;
      const std::string uri = TakeUri(raw);
      if (!IsWebScheme(uri)) {
        args->put_Cancel(TRUE);
        LogExternal(*FState, uri);
        return;
      }
      if (FState->Origin.empty()) return;
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

// A frame may show any site the page puts in it, but never hands an address to another program:
// the same check as the top-level page's, raised for frames at every depth.
class TFrameNavigationHandler : public TComObject<ICoreWebView2NavigationStartingEventHandler> {
 public:
  explicit TFrameNavigationHandler(TState state)
      : TComObject(IID_ICoreWebView2NavigationStartingEventHandler), FState(std::move(state)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2NavigationStartingEventArgs* args) override {
    CallbackGuarded([&] {
      LPWSTR raw = nullptr;
      if (!args || FAILED(args->get_Uri(&raw))) return;
      const std::string uri = TakeUri(raw);
      if (IsWebScheme(uri)) return;
      args->put_Cancel(TRUE);
      LogExternal(*FState, uri);
    });
    return S_OK;
  }

 private:
  TState FState;
};

// Where the runtime asks before launching another program (its newer generations), the answer
// is no, and its prompt never shows; the navigation handlers above already cancel the address.
class TExternalSchemeHandler
    : public TComObject<ICoreWebView2LaunchingExternalUriSchemeEventHandler> {
 public:
  explicit TExternalSchemeHandler(TState state)
      : TComObject(IID_ICoreWebView2LaunchingExternalUriSchemeEventHandler),
        FState(std::move(state)) {}
  HRESULT STDMETHODCALLTYPE
  Invoke(ICoreWebView2*, ICoreWebView2LaunchingExternalUriSchemeEventArgs* args) override {
    CallbackGuarded([&] {
      if (!args) return;
      args->put_Cancel(TRUE);
      LPWSTR raw = nullptr;
      LogExternal(*FState, SUCCEEDED(args->get_Uri(&raw)) ? TakeUri(raw) : std::string());
    });
    return S_OK;
  }

 private:
  TState FState;
};

// A prompt of the runtime's own that the page or one of its servers can bring over the map,
// answered before it shows: `answer` (the arguments' Cancel or Handled) is set, and the log says
// what was stopped.
template <class Handler, class Args> class TAnswerHandler : public TComObject<Handler> {
 public:
  using TAnswer = HRESULT (STDMETHODCALLTYPE Args::*)(BOOL);
  TAnswerHandler(const GUID& iid, TState state, TAnswer answer, int kind, const char* text)
      : TComObject<Handler>(iid), FState(std::move(state)), FAnswer(answer), FKind(kind),
        FText(text) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*, Args* args) override {
    CallbackGuarded([&] {
      if (!args) return;
      (args->*FAnswer)(TRUE);
      FState->LogThrottled(FKind, FText);
    });
    return S_OK;
  }

 private:
  TState FState;
  TAnswer FAnswer;
  int FKind;
  const char* FText;
};

// Where the runtime offers the web view generation `View`, registers an answer handler for its
// event; an older runtime keeps its default (true: nothing failed).
template <class View, class Handler, class Args>
bool AnswerWhereOffered(const TComPtr<ICoreWebView2>& view, const GUID& viewIid,
                        HRESULT (STDMETHODCALLTYPE View::*add)(Handler*, EventRegistrationToken*),
                        const GUID& handlerIid, HRESULT (STDMETHODCALLTYPE Args::*answer)(BOOL),
                        TState state, int kind, const char* text) {
  auto generation = view.As<View>(viewIid);
  if (!generation) return true;
  auto handler = TComPtr<Handler>::Attach(
      new TAnswerHandler<Handler, Args>(handlerIid, std::move(state), answer, kind, text));
  EventRegistrationToken token{};
  return SUCCEEDED((generation.Get()->*add)(handler.Get(), &token));
}

// A frame's own chrome.webview.postMessage ("menu" on a right-click, "input") reaches the frame's
// object only; it is handed to the page's message handler as if the page had posted it. Frames
// nested deeper pass theirs up through their parents (the page script).
class TFrameMessageHandler : public TComObject<ICoreWebView2FrameWebMessageReceivedEventHandler> {
 public:
  explicit TFrameMessageHandler(TComPtr<ICoreWebView2WebMessageReceivedEventHandler> page)
      : TComObject(IID_ICoreWebView2FrameWebMessageReceivedEventHandler), FPage(std::move(page)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2Frame*,
                                   ICoreWebView2WebMessageReceivedEventArgs* args) override {
    return FPage && args ? FPage->Invoke(nullptr, args) : S_OK;
  }

 private:
  TComPtr<ICoreWebView2WebMessageReceivedEventHandler> FPage;
};

class TFrameCreatedHandler : public TComObject<ICoreWebView2FrameCreatedEventHandler> {
 public:
  explicit TFrameCreatedHandler(TComPtr<ICoreWebView2WebMessageReceivedEventHandler> page)
      : TComObject(IID_ICoreWebView2FrameCreatedEventHandler), FPage(std::move(page)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2FrameCreatedEventArgs* args) override {
    CallbackGuarded([&] {
      TComPtr<ICoreWebView2Frame> frame;
      if (!args || FAILED(args->get_Frame(frame.Put())) || !frame) return;
      // Web messages of frames come with the frame's second generation.
      auto frame2 = frame.As<ICoreWebView2Frame2>(IID_ICoreWebView2Frame2);
      if (!frame2) return;
      auto handler = TComPtr<ICoreWebView2FrameWebMessageReceivedEventHandler>::Attach(
          new TFrameMessageHandler(FPage));
      EventRegistrationToken token{};
      frame2->add_WebMessageReceived(handler.Get(), &token);
    });
    return S_OK;
  }

 private:
  TComPtr<ICoreWebView2WebMessageReceivedEventHandler> FPage;
};

// Printing opens the runtime's print preview over the map, and from there the system's print
// dialog with its file dialogs; saving the page opens a file dialog at once. The page's
// window.print does nothing, and Ctrl+P and Ctrl+S are kept from the browser in runtimes too old
// to switch its keys off (the browser's other keys stay off in the newer ones).
constexpr wchar_t kNoPrintScript[] =
    L"(function(){window.print=function(){};document.addEventListener(\"keydown\",function(e){"
    L"var k=e.key;if((e.ctrlKey||e.metaKey)&&(k===\"p\"||k===\"P\"||k===\"s\"||k===\"S\"))"
    L"e.preventDefault();},true);})();";

class TNoPrintAddedHandler
    : public TComObject<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> {
 public:
  TNoPrintAddedHandler()
      : TComObject(IID_ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler) {}
  HRESULT STDMETHODCALLTYPE Invoke(HRESULT, LPCWSTR) override { return S_OK; }
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
                     ICoreWebView2WebMessageReceivedEventHandler* messages,
                     std::shared_ptr<TWebView2LockState> state) {
  if (!webView || !state) return false;
  bool all = true;
  TComPtr<ICoreWebView2Settings> settings;
  // Without the runtime's own dialogs, every dialog comes to our handler. Its own error page has
  // nothing for the display (the program covers a page that did not come with its own cover), and
  // it would show in a frame that did not load: a blank frame instead.
  if (FAILED(webView->get_Settings(settings.Put())) || !settings ||
      FAILED(settings->put_AreDefaultScriptDialogsEnabled(FALSE)) ||
      FAILED(settings->put_IsBuiltInErrorPageEnabled(FALSE)))
    all = false;
  // A PDF in the page or a frame brings the runtime's viewer, whose save and print buttons open
  // the system's file dialogs, and from there the whole computer. The seventh settings generation
  // hides them; older runtimes keep them.
  if (auto settings7 = settings.As<ICoreWebView2Settings7>(IID_ICoreWebView2Settings7))
    all =
        SUCCEEDED(settings7->put_HiddenPdfToolbarItems(static_cast<COREWEBVIEW2_PDF_TOOLBAR_ITEMS>(
            COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE | COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT |
            COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS | COREWEBVIEW2_PDF_TOOLBAR_ITEMS_FULL_SCREEN |
            COREWEBVIEW2_PDF_TOOLBAR_ITEMS_MORE_SETTINGS))) &&
        all;
  EventRegistrationToken token{};
  auto window =
      TComPtr<ICoreWebView2NewWindowRequestedEventHandler>::Attach(new TNewWindowHandler(state));
  auto dialog = TComPtr<ICoreWebView2ScriptDialogOpeningEventHandler>::Attach(
      new TScriptDialogHandler(state));
  auto permission =
      TComPtr<ICoreWebView2PermissionRequestedEventHandler>::Attach(new TPermissionHandler(state));
  auto starting = TComPtr<ICoreWebView2NavigationStartingEventHandler>::Attach(
      new TNavigationStartingHandler(state));
  auto frameStarting = TComPtr<ICoreWebView2NavigationStartingEventHandler>::Attach(
      new TFrameNavigationHandler(state));
  auto noPrint = TComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>::Attach(
      new TNoPrintAddedHandler());
  // New windows, dialogs and permissions of frames come to these handlers too (the runtime raises
  // them on the web view for its frames at every depth), and so do downloads.
  all = SUCCEEDED(webView->add_NewWindowRequested(window.Get(), &token)) && all;
  all = SUCCEEDED(webView->add_ScriptDialogOpening(dialog.Get(), &token)) && all;
  all = SUCCEEDED(webView->add_PermissionRequested(permission.Get(), &token)) && all;
  all = SUCCEEDED(webView->add_NavigationStarting(starting.Get(), &token)) && all;
  all = SUCCEEDED(webView->add_FrameNavigationStarting(frameStarting.Get(), &token)) && all;
  all =
      SUCCEEDED(webView->AddScriptToExecuteOnDocumentCreated(kNoPrintScript, noPrint.Get())) && all;
  const auto view = TComPtr<ICoreWebView2>::Share(webView);
  // Downloads and frames come with the fourth web view generation. An older runtime offers no
  // event for downloads: nothing here can stop them, and it saves and shows them as it always
  // has. Its frames' messages reach nobody: a right-click in a frame does nothing there.
  if (auto webView4 = view.As<ICoreWebView2_4>(IID_ICoreWebView2_4)) {
    auto download =
        TComPtr<ICoreWebView2DownloadStartingEventHandler>::Attach(new TDownloadHandler(state));
    all = SUCCEEDED(webView4->add_DownloadStarting(download.Get(), &token)) && all;
    if (messages) {
      auto frames = TComPtr<ICoreWebView2FrameCreatedEventHandler>::Attach(new TFrameCreatedHandler(
          TComPtr<ICoreWebView2WebMessageReceivedEventHandler>::Share(messages)));
      all = SUCCEEDED(webView4->add_FrameCreated(frames.Get(), &token)) && all;
    }
  }
  // A server that asks for a client certificate would bring the runtime's certificate choice
  // over the map: answered without one, and the server decides.
  all = AnswerWhereOffered(view, IID_ICoreWebView2_5,
                           &ICoreWebView2_5::add_ClientCertificateRequested,
                           IID_ICoreWebView2ClientCertificateRequestedEventHandler,
                           &ICoreWebView2ClientCertificateRequestedEventArgs::put_Handled, state,
                           lkCertificate, "已不带证书回答服务器的客户端证书请求") &&
        all;
  // A server of the page (or of anything in it) that asks for a user name and password would put
  // the runtime's sign-in dialog over the map: cancelled, the request ends as refused.
  all = AnswerWhereOffered(view, IID_ICoreWebView2_10,
                           &ICoreWebView2_10::add_BasicAuthenticationRequested,
                           IID_ICoreWebView2BasicAuthenticationRequestedEventHandler,
                           &ICoreWebView2BasicAuthenticationRequestedEventArgs::put_Cancel, state,
                           lkSignIn, "已拒绝页面要求的登录") &&
        all;
  if (auto webView18 = view.As<ICoreWebView2_18>(IID_ICoreWebView2_18)) {
    auto external = TComPtr<ICoreWebView2LaunchingExternalUriSchemeEventHandler>::Attach(
        new TExternalSchemeHandler(state));
    all = SUCCEEDED(webView18->add_LaunchingExternalUriScheme(external.Get(), &token)) && all;
  }
  // The save dialog (the page's "save as", whichever way it was asked for) is the system's file
  // dialog, and from there the whole computer: cancelled before it shows.
  all = AnswerWhereOffered(view, IID_ICoreWebView2_25, &ICoreWebView2_25::add_SaveAsUIShowing,
                           IID_ICoreWebView2SaveAsUIShowingEventHandler,
                           &ICoreWebView2SaveAsUIShowingEventArgs::put_Cancel, state, lkSaveAs,
                           "已拦截页面的另存为") &&
        all;
  // The page's getDisplayMedia would show the runtime's choice of a screen or window over the map,
  // and a passer-by's pick would hand the page a picture of the computer: refused without it.
  all = AnswerWhereOffered(view, IID_ICoreWebView2_27, &ICoreWebView2_27::add_ScreenCaptureStarting,
                           IID_ICoreWebView2ScreenCaptureStartingEventHandler,
                           &ICoreWebView2ScreenCaptureStartingEventArgs::put_Cancel, state,
                           lkScreenCapture, "已拒绝页面的屏幕共享") &&
        all;
  // A file dragged onto the display would open in a window of its own, outside the lock-down.
  // Refusing it takes the fourth controller generation; older runtimes keep allowing it.
  if (auto controller4 = TComPtr<ICoreWebView2Controller>::Share(controller)
                             .As<ICoreWebView2Controller4>(IID_ICoreWebView2Controller4))
    all = SUCCEEDED(controller4->put_AllowExternalDrop(FALSE)) && all;
  return all;
}

} // namespace hb::win
