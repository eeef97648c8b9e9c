// A stand-in for WebView2Loader.dll and the runtime behind it, written against Microsoft's own
// WebView2.h (never against the program's declarations): the environment, controller, web view,
// settings and event argument objects, with every call the adapter makes recorded, and exports
// that let the test fire events. Completions run when the test pumps them, as the real runtime
// delivers them later through the message loop.
//
// What a real runtime would do to a wrong declaration, this one does too: it reaches the
// program's handlers only through the official interface ids (QueryInterface before every
// Invoke), and its objects are apartment objects that record any call, AddRef or Release made
// from a thread other than the one that created the environment.
#include <windows.h>

#include <WebView2.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "WinText.h"

namespace {

std::mutex gLogLock; // off-thread calls are recorded from their own thread
std::vector<std::string> gLog;
std::vector<std::function<void()>> gPending;
unsigned gFlags = 0;
DWORD gUiThread = 0;
enum : unsigned {
  kFailEnvironment = 1,     // the environment completion reports a failure
  kNoNewerSettings = 2,     // only the first two settings generations exist
  kNoHttpStatus = 4,        // navigation arguments without the second generation
  kRefuseSynchronously = 8, // CreateCoreWebView2EnvironmentWithOptions itself fails
};

// Self-driving runs (the block at the end of this file): what the model below tells them. Each
// does nothing unless a run is self-driving.
void AutoStart(); // on the user-interface thread, at each environment request
bool AutoEnvironmentFault(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler,
                          const std::string& folder);
void AutoEnvironmentDone(HRESULT hr);
void AutoControllerDone(HRESULT hr, HWND parent);
void AutoControllerClosed();
void AutoPageBounds(const RECT& r);
void AutoPageVisible(BOOL visible);
void AutoNavigationBegun(UINT64 id, const std::string& uri);

void Log(const std::string& s) {
  std::lock_guard<std::mutex> lock(gLogLock);
  gLog.push_back(s);
}
std::string W(LPCWSTR s) {
  return s ? hb::win::Utf8(s, wcslen(s)) : "(null)";
}
LPWSTR CoCopy(const std::string& s) {
  std::wstring w = hb::win::Wide(s);
  auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((w.size() + 1) * sizeof(wchar_t)));
  memcpy(p, w.c_str(), (w.size() + 1) * sizeof(wchar_t));
  return p;
}

// The runtime's objects live in the user-interface thread's apartment.
void OnUiThread(const char* what) {
  if (gUiThread && GetCurrentThreadId() != gUiThread)
    Log(std::string("called off the UI thread: ") + what);
}

// An owning pointer to one of the program's objects, as the runtime holds it.
template <class T> class TRef {
 public:
  TRef() = default;
  explicit TRef(T* p) : FPtr(p) {
    if (FPtr) FPtr->AddRef();
  }
  TRef(const TRef& o) : TRef(o.FPtr) {}
  TRef& operator=(const TRef& o) {
    TRef copy(o);
    std::swap(FPtr, copy.FPtr);
    return *this;
  }
  ~TRef() {
    if (FPtr) FPtr->Release();
  }
  T* Get() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }

 private:
  T* FPtr = nullptr;
};

// Calls a program handler the way a runtime that knows only the official ids reaches it: asks it
// for the official interface first and calls through what it answered. A handler that does not
// answer is never invoked, and the log says so.
template <class T, class F>
void InvokeHandler(const TRef<T>& handler, const IID& iid, const char* name, F&& call) {
  if (!handler) return;
  T* answered = nullptr;
  if (FAILED(handler.Get()->QueryInterface(iid, reinterpret_cast<void**>(&answered))) ||
      !answered) {
    Log(std::string("QueryInterface failed: ") + name);
    return;
  }
  call(answered);
  answered->Release();
}
#define INVOKE(handler, Iface, call) InvokeHandler(handler, IID_##Iface, #Iface, call)

// One runtime object: IUnknown for the listed official interfaces, reference counted, every
// entry point checked for its thread.
template <class Iface> class TObject : public Iface {
 public:
  TObject(const char* name, std::vector<const IID*> iids) : FName(name), FIids(std::move(iids)) {}
  virtual ~TObject() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    OnUiThread(FName);
    if (!out) return E_POINTER;
    *out = nullptr;
    bool known = IsEqualGUID(riid, IID_IUnknown);
    for (const IID* iid : FIids) known = known || IsEqualGUID(riid, *iid);
    if (!known) return E_NOINTERFACE;
    *out = static_cast<Iface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    OnUiThread(FName);
    return ++FRefs;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    OnUiThread(FName);
    ULONG n = --FRefs;
    if (n == 0) delete this;
    return n;
  }

 protected:
  const char* FName;
  std::vector<const IID*> FIids;

 private:
  std::atomic<ULONG> FRefs{1};
};

// Takes over the reference a new object starts with.
template <class T> TRef<T> Adopt(T* p) {
  TRef<T> r(p);
  p->Release();
  return r;
}

// The runtime's own script dialogs (on by default); see the kiosk's adversaries below.
bool gDefaultScriptDialogs = true;

#define STUB(name, ...)                                                                            \
  HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override {                                           \
    Log("unexpected call: " #name);                                                                \
    return E_NOTIMPL;                                                                              \
  }
#define BOOLPUT(name)                                                                              \
  HRESULT STDMETHODCALLTYPE name(BOOL v) override {                                                \
    OnUiThread(#name);                                                                             \
    Log(std::string(#name "=") + (v ? "1" : "0"));                                                 \
    return S_OK;                                                                                   \
  }

// The PDF viewer's buttons the seventh settings generation hides (none by default).
COREWEBVIEW2_PDF_TOOLBAR_ITEMS gHiddenPdfItems = COREWEBVIEW2_PDF_TOOLBAR_ITEMS_NONE;

class TSettings : public TObject<ICoreWebView2Settings7> {
 public:
  TSettings()
      : TObject("Settings", {&IID_ICoreWebView2Settings, &IID_ICoreWebView2Settings2,
                             &IID_ICoreWebView2Settings3, &IID_ICoreWebView2Settings4,
                             &IID_ICoreWebView2Settings5, &IID_ICoreWebView2Settings6,
                             &IID_ICoreWebView2Settings7}) {
    if (gFlags & kNoNewerSettings) FIids.resize(2);
  }
  STUB(get_IsScriptEnabled, BOOL*)
  BOOLPUT(put_IsScriptEnabled)
  STUB(get_IsWebMessageEnabled, BOOL*)
  BOOLPUT(put_IsWebMessageEnabled)
  STUB(get_AreDefaultScriptDialogsEnabled, BOOL*)
  HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL v) override {
    OnUiThread("put_AreDefaultScriptDialogsEnabled");
    Log(std::string("put_AreDefaultScriptDialogsEnabled=") + (v ? "1" : "0"));
    gDefaultScriptDialogs = v != FALSE;
    return S_OK;
  }
  STUB(get_IsStatusBarEnabled, BOOL*)
  BOOLPUT(put_IsStatusBarEnabled)
  STUB(get_AreDevToolsEnabled, BOOL*)
  BOOLPUT(put_AreDevToolsEnabled)
  STUB(get_AreDefaultContextMenusEnabled, BOOL*)
  BOOLPUT(put_AreDefaultContextMenusEnabled)
  STUB(get_AreHostObjectsAllowed, BOOL*)
  BOOLPUT(put_AreHostObjectsAllowed)
  STUB(get_IsZoomControlEnabled, BOOL*)
  BOOLPUT(put_IsZoomControlEnabled)
  STUB(get_IsBuiltInErrorPageEnabled, BOOL*)
  BOOLPUT(put_IsBuiltInErrorPageEnabled)
  STUB(get_UserAgent, LPWSTR*)
  STUB(put_UserAgent, LPCWSTR)
  STUB(get_AreBrowserAcceleratorKeysEnabled, BOOL*)
  BOOLPUT(put_AreBrowserAcceleratorKeysEnabled)
  STUB(get_IsPasswordAutosaveEnabled, BOOL*)
  BOOLPUT(put_IsPasswordAutosaveEnabled)
  STUB(get_IsGeneralAutofillEnabled, BOOL*)
  BOOLPUT(put_IsGeneralAutofillEnabled)
  STUB(get_IsPinchZoomEnabled, BOOL*)
  BOOLPUT(put_IsPinchZoomEnabled)
  STUB(get_IsSwipeNavigationEnabled, BOOL*)
  BOOLPUT(put_IsSwipeNavigationEnabled)
  STUB(get_HiddenPdfToolbarItems, COREWEBVIEW2_PDF_TOOLBAR_ITEMS*)
  HRESULT STDMETHODCALLTYPE put_HiddenPdfToolbarItems(COREWEBVIEW2_PDF_TOOLBAR_ITEMS v) override {
    OnUiThread("put_HiddenPdfToolbarItems");
    Log("put_HiddenPdfToolbarItems=" + std::to_string(static_cast<int>(v)));
    gHiddenPdfItems = v;
    return S_OK;
  }
};

class TNavArgs : public TObject<ICoreWebView2NavigationCompletedEventArgs2> {
 public:
  TNavArgs(bool ok, int status, int http, UINT64 id)
      : TObject("NavigationCompletedEventArgs", {&IID_ICoreWebView2NavigationCompletedEventArgs,
                                                 &IID_ICoreWebView2NavigationCompletedEventArgs2}),
        FOk(ok), FStatus(status), FHttp(http), FId(id) {
    if (gFlags & kNoHttpStatus) FIids.resize(1);
  }
  HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* v) override {
    OnUiThread("get_IsSuccess");
    *v = FOk;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* v) override {
    OnUiThread("get_WebErrorStatus");
    *v = static_cast<COREWEBVIEW2_WEB_ERROR_STATUS>(FStatus);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* v) override {
    OnUiThread("get_NavigationId");
    *v = FId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_HttpStatusCode(int* v) override {
    OnUiThread("get_HttpStatusCode");
    *v = FHttp;
    return S_OK;
  }

 private:
  BOOL FOk;
  int FStatus, FHttp;
  UINT64 FId;
};

class TMessageArgs : public TObject<ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  explicit TMessageArgs(std::string json)
      : TObject("WebMessageReceivedEventArgs", {&IID_ICoreWebView2WebMessageReceivedEventArgs}),
        FJson(std::move(json)) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* v) override {
    *v = CoCopy("https://cloud.test/");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* v) override {
    OnUiThread("get_WebMessageAsJson");
    *v = CoCopy(FJson);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* v) override {
    *v = nullptr;
    return E_INVALIDARG;
  }

 private:
  std::string FJson;
};

class THeaders : public TObject<ICoreWebView2HttpRequestHeaders> {
 public:
  THeaders() : TObject("HttpRequestHeaders", {&IID_ICoreWebView2HttpRequestHeaders}) {}
  STUB(GetHeader, LPCWSTR, LPWSTR*)
  STUB(GetHeaders, LPCWSTR, ICoreWebView2HttpHeadersCollectionIterator**)
  HRESULT STDMETHODCALLTYPE Contains(LPCWSTR name, BOOL* v) override {
    OnUiThread("Contains");
    Log("Contains " + W(name));
    *v = _wcsicmp(name, L"Range") == 0;
    return S_OK;
  }
  STUB(SetHeader, LPCWSTR, LPCWSTR)
  STUB(RemoveHeader, LPCWSTR)
  STUB(GetIterator, ICoreWebView2HttpHeadersCollectionIterator**)
};

class TRequest : public TObject<ICoreWebView2WebResourceRequest> {
 public:
  explicit TRequest(std::string uri)
      : TObject("WebResourceRequest", {&IID_ICoreWebView2WebResourceRequest}),
        FUri(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* v) override {
    OnUiThread("get_Uri");
    *v = CoCopy(FUri);
    return S_OK;
  }
  STUB(put_Uri, LPCWSTR)
  HRESULT STDMETHODCALLTYPE get_Method(LPWSTR* v) override {
    OnUiThread("get_Method");
    *v = CoCopy("GET");
    return S_OK;
  }
  STUB(put_Method, LPCWSTR)
  STUB(get_Content, IStream**)
  STUB(put_Content, IStream*)
  HRESULT STDMETHODCALLTYPE get_Headers(ICoreWebView2HttpRequestHeaders** v) override {
    OnUiThread("get_Headers");
    *v = new THeaders();
    return S_OK;
  }

 private:
  std::string FUri;
};

class TResponse : public TObject<ICoreWebView2WebResourceResponse> {
 public:
  TResponse() : TObject("WebResourceResponse", {&IID_ICoreWebView2WebResourceResponse}) {}
  STUB(get_Content, IStream**)
  STUB(put_Content, IStream*)
  STUB(get_Headers, ICoreWebView2HttpResponseHeaders**)
  STUB(get_StatusCode, int*)
  STUB(put_StatusCode, int)
  STUB(get_ReasonPhrase, LPWSTR*)
  STUB(put_ReasonPhrase, LPCWSTR)
};

class TDeferral : public TObject<ICoreWebView2Deferral> {
 public:
  TDeferral() : TObject("Deferral", {&IID_ICoreWebView2Deferral}) {}
  ~TDeferral() override { Log("Deferral released"); }
  HRESULT STDMETHODCALLTYPE Complete() override {
    OnUiThread("Deferral.Complete");
    Log("Deferral.Complete");
    return S_OK;
  }
};

class TResourceArgs : public TObject<ICoreWebView2WebResourceRequestedEventArgs> {
 public:
  explicit TResourceArgs(std::string uri)
      : TObject("WebResourceRequestedEventArgs", {&IID_ICoreWebView2WebResourceRequestedEventArgs}),
        FUri(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Request(ICoreWebView2WebResourceRequest** v) override {
    OnUiThread("get_Request");
    *v = new TRequest(FUri);
    return S_OK;
  }
  STUB(get_Response, ICoreWebView2WebResourceResponse**)
  HRESULT STDMETHODCALLTYPE put_Response(ICoreWebView2WebResourceResponse* r) override {
    OnUiThread("put_Response");
    Log(r ? "put_Response" : "put_Response(null)");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** v) override {
    OnUiThread("GetDeferral");
    Log("GetDeferral");
    *v = new TDeferral();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ResourceContext(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* v) override {
    *v = COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL;
    return S_OK;
  }

 private:
  std::string FUri;
};

class TProcessArgs : public TObject<ICoreWebView2ProcessFailedEventArgs> {
 public:
  explicit TProcessArgs(int kind)
      : TObject("ProcessFailedEventArgs", {&IID_ICoreWebView2ProcessFailedEventArgs}), FKind(kind) {
  }
  HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* v) override {
    OnUiThread("get_ProcessFailedKind");
    *v = static_cast<COREWEBVIEW2_PROCESS_FAILED_KIND>(FKind);
    return S_OK;
  }

 private:
  int FKind;
};

// ---- The kiosk's adversaries: the runtime's defaults as Microsoft documents them ----
// Unhandled, a new-window request opens a popup window of the runtime's own; with the runtime's
// script dialogs on (the default) a dialog is modal and the event is not raised; a permission
// left at its default state shows the runtime's prompt; a navigation not cancelled goes ahead; a
// download nobody cancels is saved to the Downloads folder, its panel shown (the reference of
// ICoreWebView2_4::add_DownloadStarting); a file dragged in from outside, while
// ICoreWebView2Controller4::AllowExternalDrop is TRUE (its default), is opened in a new window.
// Each outcome is logged in those words, so a test sees what a passer-by would.

class TNewWindowArgs : public TObject<ICoreWebView2NewWindowRequestedEventArgs> {
 public:
  explicit TNewWindowArgs(std::string uri)
      : TObject("NewWindowRequestedEventArgs", {&IID_ICoreWebView2NewWindowRequestedEventArgs}),
        FUri(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* v) override {
    *v = CoCopy(FUri);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2* w) override {
    Given = w != nullptr;
    return S_OK;
  }
  STUB(get_NewWindow, ICoreWebView2**)
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL v) override {
    Handled = v != FALSE;
    return S_OK;
  }
  STUB(get_Handled, BOOL*)
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* v) override {
    *v = TRUE;
    return S_OK;
  }
  STUB(GetDeferral, ICoreWebView2Deferral**)
  STUB(get_WindowFeatures, ICoreWebView2WindowFeatures**)
  bool Handled = false, Given = false;

 private:
  std::string FUri;
};

class TDialogArgs : public TObject<ICoreWebView2ScriptDialogOpeningEventArgs> {
 public:
  explicit TDialogArgs(int kind)
      : TObject("ScriptDialogOpeningEventArgs", {&IID_ICoreWebView2ScriptDialogOpeningEventArgs}),
        FKind(kind) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* v) override {
    *v = CoCopy("https://cloud.test/seatmap/display");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Kind(COREWEBVIEW2_SCRIPT_DIALOG_KIND* v) override {
    *v = static_cast<COREWEBVIEW2_SCRIPT_DIALOG_KIND>(FKind);
    return S_OK;
  }
  STUB(get_Message, LPWSTR*)
  HRESULT STDMETHODCALLTYPE Accept() override {
    Accepted = true;
    return S_OK;
  }
  STUB(get_DefaultText, LPWSTR*)
  STUB(get_ResultText, LPWSTR*)
  STUB(put_ResultText, LPCWSTR)
  STUB(GetDeferral, ICoreWebView2Deferral**)
  bool Accepted = false;

 private:
  int FKind;
};

class TPermissionArgs : public TObject<ICoreWebView2PermissionRequestedEventArgs> {
 public:
  explicit TPermissionArgs(int kind)
      : TObject("PermissionRequestedEventArgs", {&IID_ICoreWebView2PermissionRequestedEventArgs}),
        FKind(kind) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* v) override {
    *v = CoCopy("https://cloud.test/seatmap/display");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND* v) override {
    *v = static_cast<COREWEBVIEW2_PERMISSION_KIND>(FKind);
    return S_OK;
  }
  STUB(get_IsUserInitiated, BOOL*)
  STUB(get_State, COREWEBVIEW2_PERMISSION_STATE*)
  HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE v) override {
    State = v;
    return S_OK;
  }
  STUB(GetDeferral, ICoreWebView2Deferral**)
  COREWEBVIEW2_PERMISSION_STATE State = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;

 private:
  int FKind;
};

class TDownloadArgs : public TObject<ICoreWebView2DownloadStartingEventArgs> {
 public:
  TDownloadArgs()
      : TObject("DownloadStartingEventArgs", {&IID_ICoreWebView2DownloadStartingEventArgs}) {}
  STUB(get_DownloadOperation, ICoreWebView2DownloadOperation**)
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* v) override {
    *v = Cancel;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
    OnUiThread("DownloadStarting.put_Cancel");
    Cancel = v;
    return S_OK;
  }
  STUB(get_ResultFilePath, LPWSTR*)
  STUB(put_ResultFilePath, LPCWSTR)
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* v) override {
    *v = Handled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL v) override {
    OnUiThread("DownloadStarting.put_Handled");
    Handled = v;
    return S_OK;
  }
  STUB(GetDeferral, ICoreWebView2Deferral**)
  BOOL Cancel = FALSE, Handled = FALSE;
};

struct TKioskEvents {
  TRef<ICoreWebView2NewWindowRequestedEventHandler> NewWindow;
  TRef<ICoreWebView2ScriptDialogOpeningEventHandler> Dialog;
  TRef<ICoreWebView2PermissionRequestedEventHandler> Permission;
  TRef<ICoreWebView2DownloadStartingEventHandler> Download;
} gKioskEvents;
// The latest controller's ICoreWebView2Controller4::AllowExternalDrop; TRUE by default.
BOOL gAllowExternalDrop = TRUE;

#define KIOSK_ADD(name, Iface, field)                                                              \
  HRESULT STDMETHODCALLTYPE name(Iface* h, EventRegistrationToken* t) override {                   \
    OnUiThread(#name);                                                                             \
    Log(#name);                                                                                    \
    gKioskEvents.field = TRef<Iface>(h);                                                           \
    t->value = 1;                                                                                  \
    return S_OK;                                                                                   \
  }

// ---- End of the kiosk's adversaries ----

// ---- Frames, sign-in prompts and other programs, as Microsoft documents them ----
// ICoreWebView2_4::add_FrameCreated: raised for the page's direct frames (nested ones only in
// runtimes newer than this header). A frame's window.chrome.webview.postMessage raises the
// WebMessageReceived event of its ICoreWebView2Frame2, never the web view's; nobody registered
// there, the message is lost. New windows, script dialogs, permissions and downloads of frames
// are raised on the web view itself (NewWindowRequestedEventArgs3 names the frame a request came
// from; ICoreWebView2Frame3's PermissionRequested is raised before the web view's), so the
// exports above stand for frames too. ICoreWebView2::add_FrameNavigationStarting is raised for
// frames at every depth. A navigation to a scheme another program has registered (mailto:,
// ms-settings: ...) that no navigation handler cancelled raises
// ICoreWebView2_18::LaunchingExternalUriScheme; left alone, the runtime asks the person with its
// "open this app?" prompt. ICoreWebView2_10::BasicAuthenticationRequested left alone shows the
// runtime's sign-in dialog; ICoreWebView2_5::ClientCertificateRequested left alone shows its
// certificate choice (Handled without a certificate answers the server with none);
// ICoreWebView2_25::SaveAsUIShowing left alone shows the system's save dialog (Cancel: no dialog,
// nothing saved; SuppressDefaultDialog alone still saves); ICoreWebView2_27::ScreenCaptureStarting
// left alone shows the choice of screen or window to share. The built-in error page is on by
// default (ICoreWebView2Settings::IsBuiltInErrorPageEnabled), and the PDF viewer shows all its
// buttons.
enum : unsigned {
  kUpToFourthWebView = 0x1000, // the web view's generations stop at the fourth (frames, downloads)
};

class TFrame : public TObject<ICoreWebView2Frame2> {
 public:
  TFrame() : TObject("Frame", {&IID_ICoreWebView2Frame, &IID_ICoreWebView2Frame2}) {}
  STUB(get_Name, LPWSTR*)
  STUB(add_NameChanged, ICoreWebView2FrameNameChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_NameChanged, EventRegistrationToken)
  STUB(AddHostObjectToScriptWithOrigins, LPCWSTR, VARIANT*, UINT32, LPCWSTR*)
  STUB(RemoveHostObjectFromScript, LPCWSTR)
  STUB(add_Destroyed, ICoreWebView2FrameDestroyedEventHandler*, EventRegistrationToken*)
  STUB(remove_Destroyed, EventRegistrationToken)
  STUB(IsDestroyed, BOOL*)
  STUB(add_NavigationStarting, ICoreWebView2FrameNavigationStartingEventHandler*,
       EventRegistrationToken*)
  STUB(remove_NavigationStarting, EventRegistrationToken)
  STUB(add_ContentLoading, ICoreWebView2FrameContentLoadingEventHandler*, EventRegistrationToken*)
  STUB(remove_ContentLoading, EventRegistrationToken)
  STUB(add_NavigationCompleted, ICoreWebView2FrameNavigationCompletedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_NavigationCompleted, EventRegistrationToken)
  STUB(add_DOMContentLoaded, ICoreWebView2FrameDOMContentLoadedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_DOMContentLoaded, EventRegistrationToken)
  STUB(ExecuteScript, LPCWSTR, ICoreWebView2ExecuteScriptCompletedHandler*)
  STUB(PostWebMessageAsJson, LPCWSTR)
  STUB(PostWebMessageAsString, LPCWSTR)
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(
      ICoreWebView2FrameWebMessageReceivedEventHandler* h, EventRegistrationToken* t) override {
    OnUiThread("Frame.add_WebMessageReceived");
    Log("Frame.add_WebMessageReceived");
    Message = TRef<ICoreWebView2FrameWebMessageReceivedEventHandler>(h);
    t->value = 30;
    return S_OK;
  }
  STUB(remove_WebMessageReceived, EventRegistrationToken)
  TRef<ICoreWebView2FrameWebMessageReceivedEventHandler> Message;
};

class TFrameCreatedArgs : public TObject<ICoreWebView2FrameCreatedEventArgs> {
 public:
  explicit TFrameCreatedArgs(ICoreWebView2Frame* frame)
      : TObject("FrameCreatedEventArgs", {&IID_ICoreWebView2FrameCreatedEventArgs}), FFrame(frame) {
  }
  HRESULT STDMETHODCALLTYPE get_Frame(ICoreWebView2Frame** v) override {
    OnUiThread("FrameCreated.get_Frame");
    FFrame->AddRef();
    *v = FFrame;
    return S_OK;
  }

 private:
  ICoreWebView2Frame* FFrame;
};

class TSignInArgs : public TObject<ICoreWebView2BasicAuthenticationRequestedEventArgs> {
 public:
  TSignInArgs()
      : TObject("BasicAuthenticationRequestedEventArgs",
                {&IID_ICoreWebView2BasicAuthenticationRequestedEventArgs}) {}
  STUB(get_Uri, LPWSTR*)
  STUB(get_Challenge, LPWSTR*)
  STUB(get_Response, ICoreWebView2BasicAuthenticationResponse**)
  STUB(get_Cancel, BOOL*)
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
    OnUiThread("BasicAuthenticationRequested.put_Cancel");
    Cancel = v;
    return S_OK;
  }
  STUB(GetDeferral, ICoreWebView2Deferral**)
  BOOL Cancel = FALSE;
};

class TExternalArgs : public TObject<ICoreWebView2LaunchingExternalUriSchemeEventArgs> {
 public:
  explicit TExternalArgs(std::string uri)
      : TObject("LaunchingExternalUriSchemeEventArgs",
                {&IID_ICoreWebView2LaunchingExternalUriSchemeEventArgs}),
        FUri(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* v) override {
    OnUiThread("LaunchingExternalUriScheme.get_Uri");
    *v = CoCopy(FUri);
    return S_OK;
  }
  STUB(get_InitiatingOrigin, LPWSTR*)
  STUB(get_IsUserInitiated, BOOL*)
  STUB(get_Cancel, BOOL*)
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
    OnUiThread("LaunchingExternalUriScheme.put_Cancel");
    Cancel = v;
    return S_OK;
  }
  STUB(GetDeferral, ICoreWebView2Deferral**)
  BOOL Cancel = FALSE;

 private:
  std::string FUri;
};

class TCertificateArgs : public TObject<ICoreWebView2ClientCertificateRequestedEventArgs> {
 public:
  TCertificateArgs()
      : TObject("ClientCertificateRequestedEventArgs",
                {&IID_ICoreWebView2ClientCertificateRequestedEventArgs}) {}
  STUB(get_Host, LPWSTR*)
  STUB(get_Port, int*)
  STUB(get_IsProxy, BOOL*)
  STUB(get_AllowedCertificateAuthorities, ICoreWebView2StringCollection**)
  STUB(get_MutuallyTrustedCertificates, ICoreWebView2ClientCertificateCollection**)
  STUB(get_SelectedCertificate, ICoreWebView2ClientCertificate**)
  STUB(put_SelectedCertificate, ICoreWebView2ClientCertificate*)
  STUB(get_Cancel, BOOL*)
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
    Cancel = v;
    return S_OK;
  }
  STUB(get_Handled, BOOL*)
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL v) override {
    OnUiThread("ClientCertificateRequested.put_Handled");
    Handled = v;
    return S_OK;
  }
  STUB(GetDeferral, ICoreWebView2Deferral**)
  BOOL Cancel = FALSE, Handled = FALSE;
};

class TSaveAsArgs : public TObject<ICoreWebView2SaveAsUIShowingEventArgs> {
 public:
  TSaveAsArgs()
      : TObject("SaveAsUIShowingEventArgs", {&IID_ICoreWebView2SaveAsUIShowingEventArgs}) {}
  STUB(get_ContentMimeType, LPWSTR*)
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
    OnUiThread("SaveAsUIShowing.put_Cancel");
    Cancel = v;
    return S_OK;
  }
  STUB(get_Cancel, BOOL*)
  HRESULT STDMETHODCALLTYPE put_SuppressDefaultDialog(BOOL v) override {
    Suppress = v;
    return S_OK;
  }
  STUB(get_SuppressDefaultDialog, BOOL*)
  STUB(GetDeferral, ICoreWebView2Deferral**)
  STUB(put_SaveAsFilePath, LPCWSTR)
  STUB(get_SaveAsFilePath, LPWSTR*)
  STUB(put_AllowReplace, BOOL)
  STUB(get_AllowReplace, BOOL*)
  STUB(put_Kind, COREWEBVIEW2_SAVE_AS_KIND)
  STUB(get_Kind, COREWEBVIEW2_SAVE_AS_KIND*)
  BOOL Cancel = FALSE, Suppress = FALSE;
};

class TScreenCaptureArgs : public TObject<ICoreWebView2ScreenCaptureStartingEventArgs> {
 public:
  TScreenCaptureArgs()
      : TObject("ScreenCaptureStartingEventArgs",
                {&IID_ICoreWebView2ScreenCaptureStartingEventArgs}) {}
  STUB(get_Cancel, BOOL*)
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
    OnUiThread("ScreenCaptureStarting.put_Cancel");
    Cancel = v;
    return S_OK;
  }
  STUB(get_Handled, BOOL*)
  STUB(put_Handled, BOOL)
  STUB(get_OriginalSourceFrameInfo, ICoreWebView2FrameInfo**)
  STUB(GetDeferral, ICoreWebView2Deferral**)
  BOOL Cancel = FALSE;
};

struct TFrameEvents {
  TRef<ICoreWebView2ClientCertificateRequestedEventHandler> Certificate;
  TRef<ICoreWebView2SaveAsUIShowingEventHandler> SaveAs;
  TRef<ICoreWebView2ScreenCaptureStartingEventHandler> Capture;
  TRef<ICoreWebView2FrameCreatedEventHandler> Created;
  std::vector<TRef<ICoreWebView2NavigationStartingEventHandler>> Starting;
  TRef<ICoreWebView2BasicAuthenticationRequestedEventHandler> SignIn;
  TRef<ICoreWebView2LaunchingExternalUriSchemeEventHandler> External;
  std::vector<TRef<ICoreWebView2Frame>> Frames; // the page's frames, in the order created
} gFrameEvents;

#define FRAMES_ADD(name, Iface, field)                                                             \
  HRESULT STDMETHODCALLTYPE name(Iface* h, EventRegistrationToken* t) override {                   \
    OnUiThread(#name);                                                                             \
    Log(#name);                                                                                    \
    gFrameEvents.field = TRef<Iface>(h);                                                           \
    t->value = 31;                                                                                 \
    return S_OK;                                                                                   \
  }

// ---- End of frames, sign-in prompts and other programs ----

// Holds the one handler registered for each event the program uses.
struct TEvents {
  TRef<ICoreWebView2NavigationCompletedEventHandler> Nav;
  TRef<ICoreWebView2WebMessageReceivedEventHandler> Message;
  TRef<ICoreWebView2WebResourceRequestedEventHandler> Resource;
  TRef<ICoreWebView2ProcessFailedEventHandler> Failed;
  std::vector<TRef<ICoreWebView2NavigationStartingEventHandler>> Starting; // several allowed
} gEvents;

ICoreWebView2* gWebView = nullptr;

// ---- Navigations: ids, starting, and the end of a replaced navigation ----
//
// Each top-level navigation gets a new id, which its NavigationStarting and NavigationCompleted
// carry (a redirect keeps it); see Microsoft's "Navigation events for WebView2 apps". Every
// NavigationStarting handler registered is called, in order, and any of them may cancel.
// A navigation that begins while another is still under way ends the earlier one: its
// NavigationCompleted reports IsSuccess FALSE with
// COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED, as the reference of
// ICoreWebView2NavigationCompletedEventArgs::get_IsSuccess describes for "navigating away before
// the original navigation completed". Here the new navigation's start comes first, then the old
// one's end. Starting events are raised later, from the pump, as the runtime raises them after
// Navigate has returned.

// Up to the third generation, which tells back and forward from a new document; an older runtime
// offers only the first.
class TNavStartingArgs : public TObject<ICoreWebView2NavigationStartingEventArgs3> {
 public:
  TNavStartingArgs(std::string uri, UINT64 id, bool user,
                   COREWEBVIEW2_NAVIGATION_KIND kind = COREWEBVIEW2_NAVIGATION_KIND_NEW_DOCUMENT)
      : TObject("NavigationStartingEventArgs", {&IID_ICoreWebView2NavigationStartingEventArgs,
                                                &IID_ICoreWebView2NavigationStartingEventArgs2,
                                                &IID_ICoreWebView2NavigationStartingEventArgs3}),
        FUri(std::move(uri)), FId(id), FUser(user), FKind(kind) {
    if (gFlags & kNoNewerSettings) FIids.resize(1);
  }
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* v) override {
    OnUiThread("NavigationStarting.get_Uri");
    *v = CoCopy(FUri);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* v) override {
    *v = FUser;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* v) override {
    *v = FALSE;
    return S_OK;
  }
  STUB(get_RequestHeaders, ICoreWebView2HttpRequestHeaders**)
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* v) override {
    *v = FCancel;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
    OnUiThread("NavigationStarting.put_Cancel");
    FCancel = v;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* v) override {
    OnUiThread("NavigationStarting.get_NavigationId");
    *v = FId;
    return S_OK;
  }
  STUB(get_AdditionalAllowedFrameAncestors, LPWSTR*)
  STUB(put_AdditionalAllowedFrameAncestors, LPCWSTR)
  HRESULT STDMETHODCALLTYPE get_NavigationKind(COREWEBVIEW2_NAVIGATION_KIND* v) override {
    OnUiThread("NavigationStarting.get_NavigationKind");
    *v = FKind;
    return S_OK;
  }
  BOOL Cancelled() const { return FCancel; }

 private:
  std::string FUri;
  UINT64 FId;
  BOOL FUser;
  COREWEBVIEW2_NAVIGATION_KIND FKind;
  BOOL FCancel = FALSE;
};

UINT64 gLastNavigationId = 1000;
UINT64 gNavigationUnderWay = 0; // 0: none
std::string gSource;            // the address of the latest navigation that went ahead

void CompleteNavigation(UINT64 id, BOOL ok, int webErrorStatus, int http) {
  auto args =
      Adopt<ICoreWebView2NavigationCompletedEventArgs>(new TNavArgs(ok, webErrorStatus, http, id));
  INVOKE(gEvents.Nav, ICoreWebView2NavigationCompletedEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
}

// A navigation begins (the program's Navigate, or the page's own): its start is raised from the
// pump; then, unless a handler cancelled it, it replaces the one under way.
void BeginNavigation(const std::string& uri, bool user) {
  const UINT64 id = ++gLastNavigationId;
  gPending.push_back([uri, id, user] {
    Log("NavigationStarting " + std::to_string(id) + " " + uri);
    TRef<ICoreWebView2NavigationStartingEventArgs> args(
        Adopt<ICoreWebView2NavigationStartingEventArgs>(new TNavStartingArgs(uri, id, user)));
    auto handlers = gEvents.Starting; // a handler may register another meanwhile
    for (const auto& h : handlers)
      INVOKE(h, ICoreWebView2NavigationStartingEventHandler,
             [&](auto* a) { a->Invoke(gWebView, args.Get()); });
    if (static_cast<TNavStartingArgs*>(args.Get())->Cancelled()) {
      CompleteNavigation(id, FALSE, 14, 0); // COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED
      return;
    }
    const UINT64 replaced = gNavigationUnderWay;
    gNavigationUnderWay = id;
    gSource = uri;
    if (replaced) CompleteNavigation(replaced, FALSE, 14, 0);
    AutoNavigationBegun(id, uri);
  });
}

class TWebView : public TObject<ICoreWebView2_27> {
 public:
  // Up to the twenty-seventh generation (screen capture); older runtimes offer only the first, or
  // up to the fourth (frames, downloads).
  TWebView()
      : TObject("WebView", {&IID_ICoreWebView2,    &IID_ICoreWebView2_2,  &IID_ICoreWebView2_3,
                            &IID_ICoreWebView2_4,  &IID_ICoreWebView2_5,  &IID_ICoreWebView2_6,
                            &IID_ICoreWebView2_7,  &IID_ICoreWebView2_8,  &IID_ICoreWebView2_9,
                            &IID_ICoreWebView2_10, &IID_ICoreWebView2_11, &IID_ICoreWebView2_12,
                            &IID_ICoreWebView2_13, &IID_ICoreWebView2_14, &IID_ICoreWebView2_15,
                            &IID_ICoreWebView2_16, &IID_ICoreWebView2_17, &IID_ICoreWebView2_18,
                            &IID_ICoreWebView2_19, &IID_ICoreWebView2_20, &IID_ICoreWebView2_21,
                            &IID_ICoreWebView2_22, &IID_ICoreWebView2_23, &IID_ICoreWebView2_24,
                            &IID_ICoreWebView2_25, &IID_ICoreWebView2_26, &IID_ICoreWebView2_27}) {
    if (gFlags & kUpToFourthWebView) FIids.resize(4);
    if (gFlags & kNoNewerSettings) FIids.resize(1);
  }
  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** v) override {
    OnUiThread("get_Settings");
    Log("get_Settings");
    *v = new TSettings();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* v) override {
    *v = CoCopy(gSource.empty() ? std::string("about:blank") : gSource);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
    OnUiThread("Navigate");
    Log("Navigate " + W(uri));
    if (wcsstr(uri, L"refused")) return E_INVALIDARG;
    BeginNavigation(W(uri), false);
    return S_OK;
  }
  STUB(NavigateToString, LPCWSTR)
  HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* h,
                                                   EventRegistrationToken* t) override {
    OnUiThread("add_NavigationStarting");
    Log("add_NavigationStarting");
    gEvents.Starting.push_back(TRef<ICoreWebView2NavigationStartingEventHandler>(h));
    t->value = 10 + static_cast<__int64>(gEvents.Starting.size());
    return S_OK;
  }
  STUB(remove_NavigationStarting, EventRegistrationToken)
  STUB(add_ContentLoading, ICoreWebView2ContentLoadingEventHandler*, EventRegistrationToken*)
  STUB(remove_ContentLoading, EventRegistrationToken)
  STUB(add_SourceChanged, ICoreWebView2SourceChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_SourceChanged, EventRegistrationToken)
  STUB(add_HistoryChanged, ICoreWebView2HistoryChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_HistoryChanged, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* h,
                                                    EventRegistrationToken* t) override {
    OnUiThread("add_NavigationCompleted");
    Log("add_NavigationCompleted");
    gEvents.Nav = TRef<ICoreWebView2NavigationCompletedEventHandler>(h);
    t->value = 1;
    return S_OK;
  }
  STUB(remove_NavigationCompleted, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(
      ICoreWebView2NavigationStartingEventHandler* h, EventRegistrationToken* t) override {
    OnUiThread("add_FrameNavigationStarting");
    Log("add_FrameNavigationStarting");
    gFrameEvents.Starting.push_back(TRef<ICoreWebView2NavigationStartingEventHandler>(h));
    t->value = 32;
    return S_OK;
  }
  STUB(remove_FrameNavigationStarting, EventRegistrationToken)
  STUB(add_FrameNavigationCompleted, ICoreWebView2NavigationCompletedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_FrameNavigationCompleted, EventRegistrationToken)
  KIOSK_ADD(add_ScriptDialogOpening, ICoreWebView2ScriptDialogOpeningEventHandler, Dialog)
  STUB(remove_ScriptDialogOpening, EventRegistrationToken)
  KIOSK_ADD(add_PermissionRequested, ICoreWebView2PermissionRequestedEventHandler, Permission)
  STUB(remove_PermissionRequested, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* h,
                                              EventRegistrationToken* t) override {
    OnUiThread("add_ProcessFailed");
    Log("add_ProcessFailed");
    gEvents.Failed = TRef<ICoreWebView2ProcessFailedEventHandler>(h);
    t->value = 2;
    return S_OK;
  }
  STUB(remove_ProcessFailed, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR js, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* h) override {
    OnUiThread("AddScriptToExecuteOnDocumentCreated");
    Log("AddScript " + W(js));
    TRef<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> handler(h);
    gPending.push_back([handler] {
      INVOKE(handler, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler,
             [](auto* a) { a->Invoke(S_OK, L"script-id"); });
    });
    return S_OK;
  }
  STUB(RemoveScriptToExecuteOnDocumentCreated, LPCWSTR)
  STUB(ExecuteScript, LPCWSTR, ICoreWebView2ExecuteScriptCompletedHandler*)
  STUB(CapturePreview, COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT, IStream*,
       ICoreWebView2CapturePreviewCompletedHandler*)
  STUB(Reload)
  STUB(PostWebMessageAsJson, LPCWSTR)
  STUB(PostWebMessageAsString, LPCWSTR)
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* h,
                                                   EventRegistrationToken* t) override {
    OnUiThread("add_WebMessageReceived");
    Log("add_WebMessageReceived");
    gEvents.Message = TRef<ICoreWebView2WebMessageReceivedEventHandler>(h);
    t->value = 3;
    return S_OK;
  }
  STUB(remove_WebMessageReceived, EventRegistrationToken)
  STUB(CallDevToolsProtocolMethod, LPCWSTR, LPCWSTR,
       ICoreWebView2CallDevToolsProtocolMethodCompletedHandler*)
  STUB(get_BrowserProcessId, UINT32*)
  STUB(get_CanGoBack, BOOL*)
  STUB(get_CanGoForward, BOOL*)
  STUB(GoBack)
  STUB(GoForward)
  STUB(GetDevToolsProtocolEventReceiver, LPCWSTR, ICoreWebView2DevToolsProtocolEventReceiver**)
  STUB(Stop)
  KIOSK_ADD(add_NewWindowRequested, ICoreWebView2NewWindowRequestedEventHandler, NewWindow)
  STUB(remove_NewWindowRequested, EventRegistrationToken)
  STUB(add_DocumentTitleChanged, ICoreWebView2DocumentTitleChangedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_DocumentTitleChanged, EventRegistrationToken)
  STUB(get_DocumentTitle, LPWSTR*)
  STUB(AddHostObjectToScript, LPCWSTR, VARIANT*)
  STUB(RemoveHostObjectFromScript, LPCWSTR)
  STUB(OpenDevToolsWindow)
  STUB(add_ContainsFullScreenElementChanged,
       ICoreWebView2ContainsFullScreenElementChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_ContainsFullScreenElementChanged, EventRegistrationToken)
  STUB(get_ContainsFullScreenElement, BOOL*)
  HRESULT STDMETHODCALLTYPE add_WebResourceRequested(
      ICoreWebView2WebResourceRequestedEventHandler* h, EventRegistrationToken* t) override {
    OnUiThread("add_WebResourceRequested");
    Log("add_WebResourceRequested");
    gEvents.Resource = TRef<ICoreWebView2WebResourceRequestedEventHandler>(h);
    t->value = 4;
    return S_OK;
  }
  STUB(remove_WebResourceRequested, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(
      const LPCWSTR uri, const COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) override {
    OnUiThread("AddWebResourceRequestedFilter");
    Log("AddFilter " + W(uri) + " " + std::to_string(static_cast<int>(context)));
    return S_OK;
  }
  STUB(RemoveWebResourceRequestedFilter, const LPCWSTR, const COREWEBVIEW2_WEB_RESOURCE_CONTEXT)
  STUB(add_WindowCloseRequested, ICoreWebView2WindowCloseRequestedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_WindowCloseRequested, EventRegistrationToken)
  STUB(add_WebResourceResponseReceived, ICoreWebView2WebResourceResponseReceivedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_WebResourceResponseReceived, EventRegistrationToken)
  STUB(NavigateWithWebResourceRequest, ICoreWebView2WebResourceRequest*)
  STUB(add_DOMContentLoaded, ICoreWebView2DOMContentLoadedEventHandler*, EventRegistrationToken*)
  STUB(remove_DOMContentLoaded, EventRegistrationToken)
  STUB(get_CookieManager, ICoreWebView2CookieManager**)
  STUB(get_Environment, ICoreWebView2Environment**)
  STUB(TrySuspend, ICoreWebView2TrySuspendCompletedHandler*)
  STUB(Resume)
  STUB(get_IsSuspended, BOOL*)
  STUB(SetVirtualHostNameToFolderMapping, LPCWSTR, LPCWSTR, COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND)
  STUB(ClearVirtualHostNameToFolderMapping, LPCWSTR)
  FRAMES_ADD(add_FrameCreated, ICoreWebView2FrameCreatedEventHandler, Created)
  STUB(remove_FrameCreated, EventRegistrationToken)
  KIOSK_ADD(add_DownloadStarting, ICoreWebView2DownloadStartingEventHandler, Download)
  STUB(remove_DownloadStarting, EventRegistrationToken)
  // The later generations: sign-in prompts and launches of other programs are raised, the rest
  // is never called.
  FRAMES_ADD(add_ClientCertificateRequested, ICoreWebView2ClientCertificateRequestedEventHandler,
             Certificate)
  STUB(remove_ClientCertificateRequested, EventRegistrationToken)
  STUB(OpenTaskManagerWindow)
  STUB(PrintToPdf, LPCWSTR, ICoreWebView2PrintSettings*, ICoreWebView2PrintToPdfCompletedHandler*)
  STUB(add_IsMutedChanged, ICoreWebView2IsMutedChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_IsMutedChanged, EventRegistrationToken)
  STUB(get_IsMuted, BOOL*)
  STUB(put_IsMuted, BOOL)
  STUB(add_IsDocumentPlayingAudioChanged, ICoreWebView2IsDocumentPlayingAudioChangedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_IsDocumentPlayingAudioChanged, EventRegistrationToken)
  STUB(get_IsDocumentPlayingAudio, BOOL*)
  STUB(add_IsDefaultDownloadDialogOpenChanged,
       ICoreWebView2IsDefaultDownloadDialogOpenChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_IsDefaultDownloadDialogOpenChanged, EventRegistrationToken)
  STUB(get_IsDefaultDownloadDialogOpen, BOOL*)
  STUB(OpenDefaultDownloadDialog)
  STUB(CloseDefaultDownloadDialog)
  STUB(get_DefaultDownloadDialogCornerAlignment,
       COREWEBVIEW2_DEFAULT_DOWNLOAD_DIALOG_CORNER_ALIGNMENT*)
  STUB(put_DefaultDownloadDialogCornerAlignment,
       COREWEBVIEW2_DEFAULT_DOWNLOAD_DIALOG_CORNER_ALIGNMENT)
  STUB(get_DefaultDownloadDialogMargin, POINT*)
  STUB(put_DefaultDownloadDialogMargin, POINT)
  FRAMES_ADD(add_BasicAuthenticationRequested,
             ICoreWebView2BasicAuthenticationRequestedEventHandler, SignIn)
  STUB(remove_BasicAuthenticationRequested, EventRegistrationToken)
  STUB(CallDevToolsProtocolMethodForSession, LPCWSTR, LPCWSTR, LPCWSTR,
       ICoreWebView2CallDevToolsProtocolMethodCompletedHandler*)
  STUB(add_ContextMenuRequested, ICoreWebView2ContextMenuRequestedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_ContextMenuRequested, EventRegistrationToken)
  STUB(add_StatusBarTextChanged, ICoreWebView2StatusBarTextChangedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_StatusBarTextChanged, EventRegistrationToken)
  STUB(get_StatusBarText, LPWSTR*)
  STUB(get_Profile, ICoreWebView2Profile**)
  STUB(add_ServerCertificateErrorDetected, ICoreWebView2ServerCertificateErrorDetectedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_ServerCertificateErrorDetected, EventRegistrationToken)
  STUB(ClearServerCertificateErrorActions,
       ICoreWebView2ClearServerCertificateErrorActionsCompletedHandler*)
  STUB(add_FaviconChanged, ICoreWebView2FaviconChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_FaviconChanged, EventRegistrationToken)
  STUB(get_FaviconUri, LPWSTR*)
  STUB(GetFavicon, COREWEBVIEW2_FAVICON_IMAGE_FORMAT, ICoreWebView2GetFaviconCompletedHandler*)
  STUB(Print, ICoreWebView2PrintSettings*, ICoreWebView2PrintCompletedHandler*)
  STUB(ShowPrintUI, COREWEBVIEW2_PRINT_DIALOG_KIND)
  STUB(PrintToPdfStream, ICoreWebView2PrintSettings*,
       ICoreWebView2PrintToPdfStreamCompletedHandler*)
  STUB(PostSharedBufferToScript, ICoreWebView2SharedBuffer*, COREWEBVIEW2_SHARED_BUFFER_ACCESS,
       LPCWSTR)
  FRAMES_ADD(add_LaunchingExternalUriScheme, ICoreWebView2LaunchingExternalUriSchemeEventHandler,
             External)
  STUB(remove_LaunchingExternalUriScheme, EventRegistrationToken)
  STUB(get_MemoryUsageTargetLevel, COREWEBVIEW2_MEMORY_USAGE_TARGET_LEVEL*)
  STUB(put_MemoryUsageTargetLevel, COREWEBVIEW2_MEMORY_USAGE_TARGET_LEVEL)
  STUB(get_FrameId, UINT32*)
  STUB(ExecuteScriptWithResult, LPCWSTR, ICoreWebView2ExecuteScriptWithResultCompletedHandler*)
  STUB(AddWebResourceRequestedFilterWithRequestSourceKinds, LPCWSTR,
       COREWEBVIEW2_WEB_RESOURCE_CONTEXT, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS)
  STUB(RemoveWebResourceRequestedFilterWithRequestSourceKinds, LPCWSTR,
       COREWEBVIEW2_WEB_RESOURCE_CONTEXT, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS)
  STUB(PostWebMessageAsJsonWithAdditionalObjects, LPCWSTR, ICoreWebView2ObjectCollectionView*)
  STUB(add_NotificationReceived, ICoreWebView2NotificationReceivedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_NotificationReceived, EventRegistrationToken)
  FRAMES_ADD(add_SaveAsUIShowing, ICoreWebView2SaveAsUIShowingEventHandler, SaveAs)
  STUB(remove_SaveAsUIShowing, EventRegistrationToken)
  STUB(ShowSaveAsUI, ICoreWebView2ShowSaveAsUICompletedHandler*)
  STUB(add_SaveFileSecurityCheckStarting, ICoreWebView2SaveFileSecurityCheckStartingEventHandler*,
       EventRegistrationToken*)
  STUB(remove_SaveFileSecurityCheckStarting, EventRegistrationToken)
  FRAMES_ADD(add_ScreenCaptureStarting, ICoreWebView2ScreenCaptureStartingEventHandler, Capture)
  STUB(remove_ScreenCaptureStarting, EventRegistrationToken)
};

// ---- Browser processes: one per user data folder, its exit, and what it refuses ----
//
// Microsoft's reference of CreateCoreWebView2EnvironmentWithOptions: a user data folder that a
// running browser process uses with other options (another language or other browser
// arguments: the old copy's browser during an update) gives HRESULT_FROM_WIN32(ERROR_INVALID_STATE)
// until that process has exited; the same options join the running process. The reference of
// CreateCoreWebView2Controller: once the environment's browser process has exited, a controller
// request gives ERROR_INVALID_STATE too, and the app must make a new environment. The reference
// of ICoreWebView2Environment5::BrowserProcessExited: the process exits once every controller of
// it has been closed (or it crashed), and then the event is raised on its environments. Here the
// exit comes from the pump, later, as the real process takes its time to end.

class TExitArgs : public TObject<ICoreWebView2BrowserProcessExitedEventArgs> {
 public:
  explicit TExitArgs(int kind)
      : TObject("BrowserProcessExitedEventArgs", {&IID_ICoreWebView2BrowserProcessExitedEventArgs}),
        FKind(kind) {}
  HRESULT STDMETHODCALLTYPE
  get_BrowserProcessExitKind(COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND* v) override {
    *v = static_cast<COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND>(FKind);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* v) override {
    *v = 4242;
    return S_OK;
  }

 private:
  int FKind;
};

// The runtime version installed now; a browser process keeps the one it started with.
std::string gBrowserVersion = "120.0.2210.91";

struct TBrowserProcess {
  std::string Folder, Options, Version;
  std::vector<TRef<ICoreWebView2NewBrowserVersionAvailableEventHandler>> NewVersion;
  bool Alive = true;
  bool Foreign = false; // started by another copy of the program, not through this loader
  int Controllers = 0;
  std::vector<TRef<ICoreWebView2BrowserProcessExitedEventHandler>> Exited;
  ICoreWebView2Environment* Sender = nullptr;
};
std::vector<std::shared_ptr<TBrowserProcess>> gProcesses;
std::shared_ptr<TBrowserProcess> gCurrentProcess; // of the latest controller

// kind: COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND (0 normal, 1 failed).
void EndBrowserProcess(const std::shared_ptr<TBrowserProcess>& p, int kind) {
  if (!p->Alive) return;
  p->Alive = false;
  std::erase(gProcesses, p);
  Log("BrowserProcessExited " + std::to_string(kind));
  auto args = Adopt<ICoreWebView2BrowserProcessExitedEventArgs>(new TExitArgs(kind));
  auto handlers = p->Exited;
  for (const auto& h : handlers)
    INVOKE(h, ICoreWebView2BrowserProcessExitedEventHandler,
           [&](auto* a) { a->Invoke(p->Sender, args.Get()); });
}

class TController : public TObject<ICoreWebView2Controller4> {
 public:
  // The later controller generations (the default background colour, external drops) come with
  // the newer runtimes.
  explicit TController(std::shared_ptr<TBrowserProcess> process)
      : TObject("Controller", {&IID_ICoreWebView2Controller, &IID_ICoreWebView2Controller2,
                               &IID_ICoreWebView2Controller3, &IID_ICoreWebView2Controller4}),
        FProcess(std::move(process)) {
    if (gFlags & kNoNewerSettings) FIids.resize(1);
    ++FProcess->Controllers;
    gAllowExternalDrop = TRUE;
  }
  STUB(get_RasterizationScale, double*)
  STUB(put_RasterizationScale, double)
  STUB(get_ShouldDetectMonitorScaleChanges, BOOL*)
  STUB(put_ShouldDetectMonitorScaleChanges, BOOL)
  STUB(add_RasterizationScaleChanged, ICoreWebView2RasterizationScaleChangedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_RasterizationScaleChanged, EventRegistrationToken)
  STUB(get_BoundsMode, COREWEBVIEW2_BOUNDS_MODE*)
  STUB(put_BoundsMode, COREWEBVIEW2_BOUNDS_MODE)
  HRESULT STDMETHODCALLTYPE get_AllowExternalDrop(BOOL* v) override {
    *v = gAllowExternalDrop;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_AllowExternalDrop(BOOL v) override {
    OnUiThread("put_AllowExternalDrop");
    Log(std::string("put_AllowExternalDrop=") + (v ? "1" : "0"));
    gAllowExternalDrop = v;
    return S_OK;
  }
  STUB(get_DefaultBackgroundColor, COREWEBVIEW2_COLOR*)
  HRESULT STDMETHODCALLTYPE put_DefaultBackgroundColor(COREWEBVIEW2_COLOR c) override {
    OnUiThread("put_DefaultBackgroundColor");
    char argb[16];
    std::snprintf(argb, sizeof argb, "%02X%02X%02X%02X", c.A, c.R, c.G, c.B);
    Log(std::string("put_DefaultBackgroundColor ") + argb);
    return S_OK;
  }
  STUB(get_IsVisible, BOOL*)
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL v) override {
    OnUiThread("put_IsVisible");
    Log(std::string("put_IsVisible=") + (v ? "1" : "0"));
    AutoPageVisible(v);
    return S_OK;
  }
  STUB(get_Bounds, RECT*)
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT r) override {
    OnUiThread("put_Bounds");
    Log("put_Bounds " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
    AutoPageBounds(r);
    return S_OK;
  }
  STUB(get_ZoomFactor, double*)
  STUB(put_ZoomFactor, double)
  STUB(add_ZoomFactorChanged, ICoreWebView2ZoomFactorChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_ZoomFactorChanged, EventRegistrationToken)
  STUB(SetBoundsAndZoomFactor, RECT, double)
  HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) override {
    OnUiThread("MoveFocus");
    Log("MoveFocus " + std::to_string(static_cast<int>(reason)));
    return S_OK;
  }
  STUB(add_MoveFocusRequested, ICoreWebView2MoveFocusRequestedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_MoveFocusRequested, EventRegistrationToken)
  STUB(add_GotFocus, ICoreWebView2FocusChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_GotFocus, EventRegistrationToken)
  STUB(add_LostFocus, ICoreWebView2FocusChangedEventHandler*, EventRegistrationToken*)
  STUB(remove_LostFocus, EventRegistrationToken)
  STUB(add_AcceleratorKeyPressed, ICoreWebView2AcceleratorKeyPressedEventHandler*,
       EventRegistrationToken*)
  STUB(remove_AcceleratorKeyPressed, EventRegistrationToken)
  STUB(get_ParentWindow, HWND*)
  STUB(put_ParentWindow, HWND)
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override {
    OnUiThread("NotifyParentWindowPositionChanged");
    Log("NotifyParentWindowPositionChanged");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    OnUiThread("Close");
    Log("Close");
    gEvents = {};
    AutoControllerClosed();
    if (!FClosed && --FProcess->Controllers == 0) {
      auto p = FProcess;
      gPending.push_back([p] { EndBrowserProcess(p, 0); });
    }
    FClosed = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** v) override {
    OnUiThread("get_CoreWebView2");
    Log("get_CoreWebView2");
    *v = new TWebView();
    gWebView = *v;
    return S_OK;
  }

 private:
  std::shared_ptr<TBrowserProcess> FProcess;
  bool FClosed = false;
};

class TEnvironment : public TObject<ICoreWebView2Environment5> {
 public:
  explicit TEnvironment(std::shared_ptr<TBrowserProcess> process)
      : TObject("Environment", {&IID_ICoreWebView2Environment, &IID_ICoreWebView2Environment2,
                                &IID_ICoreWebView2Environment3, &IID_ICoreWebView2Environment4,
                                &IID_ICoreWebView2Environment5}),
        FProcess(std::move(process)) {
    // Older runtimes: no exit event.
    if (gFlags & kNoNewerSettings) FIids.resize(1);
    FProcess->Sender = this;
  }
  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* h) override {
    OnUiThread("CreateCoreWebView2Controller");
    Log(std::string("CreateController ") + (IsWindow(parent) ? "window" : "no-window"));
    TRef<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> handler(h);
    auto process = FProcess;
    gPending.push_back([handler, process, parent] {
      TRef<ICoreWebView2Controller> c;
      if (process->Alive) {
        c = Adopt<ICoreWebView2Controller>(new TController(process));
        gCurrentProcess = process;
      }
      HRESULT hr = c ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
      INVOKE(handler, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
             [&](auto* a) { a->Invoke(hr, c.Get()); });
      AutoControllerDone(hr, parent);
    });
    return S_OK;
  }
  STUB(CreateWebResourceRequest, LPCWSTR, LPCWSTR, IStream*, LPCWSTR,
       ICoreWebView2WebResourceRequest**)
  STUB(CreateCoreWebView2CompositionController, HWND,
       ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler*)
  STUB(CreateCoreWebView2PointerInfo, ICoreWebView2PointerInfo**)
  STUB(GetAutomationProviderForWindow, HWND, IUnknown**)
  HRESULT STDMETHODCALLTYPE add_BrowserProcessExited(
      ICoreWebView2BrowserProcessExitedEventHandler* h, EventRegistrationToken* t) override {
    OnUiThread("add_BrowserProcessExited");
    Log("add_BrowserProcessExited");
    FProcess->Exited.push_back(TRef<ICoreWebView2BrowserProcessExitedEventHandler>(h));
    t->value = 20;
    return S_OK;
  }
  STUB(remove_BrowserProcessExited, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE
  CreateWebResourceResponse(IStream* content, int status, LPCWSTR reason, LPCWSTR headers,
                            ICoreWebView2WebResourceResponse** r) override {
    OnUiThread("CreateWebResourceResponse");
    STATSTG st{};
    content->Stat(&st, STATFLAG_NONAME);
    std::string body(static_cast<size_t>(st.cbSize.QuadPart), '\0');
    ULONG read = 0;
    LARGE_INTEGER zero{};
    content->Seek(zero, STREAM_SEEK_SET, nullptr);
    content->Read(body.data(), static_cast<ULONG>(body.size()), &read);
    Log("CreateResponse " + std::to_string(status) + " " + W(reason) + " [" + W(headers) + "] " +
        body);
    *r = new TResponse();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* v) override {
    OnUiThread("get_BrowserVersionString");
    *v = CoCopy(FProcess->Version);
    return S_OK;
  }
  // Microsoft's reference of add_NewBrowserVersionAvailable: raised when a newer runtime has been
  // installed; the app takes it by making a new environment once the old browser has exited.
  HRESULT STDMETHODCALLTYPE add_NewBrowserVersionAvailable(
      ICoreWebView2NewBrowserVersionAvailableEventHandler* h, EventRegistrationToken* t) override {
    OnUiThread("add_NewBrowserVersionAvailable");
    Log("add_NewBrowserVersionAvailable");
    FProcess->NewVersion.push_back(TRef<ICoreWebView2NewBrowserVersionAvailableEventHandler>(h));
    t->value = 21;
    return S_OK;
  }
  STUB(remove_NewBrowserVersionAvailable, EventRegistrationToken)

 private:
  std::shared_ptr<TBrowserProcess> FProcess;
};

// Raises an event of this block on the web view's one handler for it; the arguments then tell
// what came of it.
template <class H, class A>
TRef<A> RaiseOnWebView(const TRef<H>& handler, const IID& iid, const char* name, A* created) {
  auto args = Adopt(created);
  InvokeHandler(handler, iid, name, [&](H* h) { h->Invoke(gWebView, args.Get()); });
  return args;
}
#define RAISE(field, Iface, args) RaiseOnWebView(gFrameEvents.field, IID_##Iface, #Iface, args)

} // namespace

// Declared by WebView2.h; the stand-in exports it as the loader does.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  gUiThread = GetCurrentThreadId();
  AutoStart();
  if (gFlags & kRefuseSynchronously) return E_ACCESSDENIED;
  TRef<ICoreWebView2EnvironmentOptions> opts;
  INVOKE(
      TRef<ICoreWebView2EnvironmentOptions>(options), ICoreWebView2EnvironmentOptions,
      [&](ICoreWebView2EnvironmentOptions* o) { opts = TRef<ICoreWebView2EnvironmentOptions>(o); });
  if (!opts) return E_NOINTERFACE;
  LPWSTR args = nullptr, lang = nullptr, version = nullptr;
  BOOL sso = TRUE;
  opts.Get()->get_TargetCompatibleBrowserVersion(&version);
  opts.Get()->get_AllowSingleSignOnUsingOSPrimaryAccount(&sso);
  if (!version || !*version || sso) Log("unexpected options");
  CoTaskMemFree(version);
  opts.Get()->get_AdditionalBrowserArguments(&args);
  opts.Get()->get_Language(&lang);
  Log("CreateEnvironment browser=" + W(browserFolder) + " data=" + W(userDataFolder) +
      " lang=" + W(lang) + " args=" + W(args));
  const std::string folder = W(userDataFolder), optionText = W(lang) + "|" + W(args);
  CoTaskMemFree(args);
  CoTaskMemFree(lang);
  TRef<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> h(handler);
  gPending.push_back([h, folder, optionText] {
    if (AutoEnvironmentFault(h.Get(), folder)) return;
    TRef<ICoreWebView2Environment> env;
    HRESULT hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (!(gFlags & kFailEnvironment)) {
      std::shared_ptr<TBrowserProcess> process;
      for (const auto& p : gProcesses)
        if (p->Alive && _stricmp(p->Folder.c_str(), folder.c_str()) == 0) process = p;
      if (process && process->Options != optionText) {
        hr = HRESULT_FROM_WIN32(ERROR_INVALID_STATE); // held by a browser with other options
      } else {
        if (!process) {
          process = std::make_shared<TBrowserProcess>();
          process->Folder = folder;
          process->Options = optionText;
          process->Version = gBrowserVersion;
          gProcesses.push_back(process);
        }
        env = Adopt<ICoreWebView2Environment>(new TEnvironment(process));
        hr = S_OK;
      }
    }
    INVOKE(h, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
           [&](auto* a) { a->Invoke(hr, env.Get()); });
    AutoEnvironmentDone(hr);
  });
  return S_OK;
}

// Built a second time as EBWebView\x64\EmbeddedBrowserWebView.dll, this is what Microsoft's
// loader finds when WEBVIEW2_BROWSER_EXECUTABLE_FOLDER points at its folder. The loader calls this
// entry (its signature is not published; this is the one observed under Wine with the SDK's
// 1.0.2903.40 loader) with the user data folder, the program's own options object and a
// completion handler, and passes the outcome on to the program.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    BOOL, int, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  return CreateCoreWebView2EnvironmentWithOptions(nullptr, userDataFolder, options, handler);
}

extern "C" {

__declspec(dllexport) void HbFakeConfigure(unsigned flags) {
  gFlags = flags;
  gNavigationUnderWay = 0;
  gSource.clear();
  gProcesses.clear();
  gCurrentProcess.reset();
  gBrowserVersion = "120.0.2210.91";
  gDefaultScriptDialogs = true;
  gKioskEvents = {};
  gAllowExternalDrop = TRUE;
  gFrameEvents = {};
  gHiddenPdfItems = COREWEBVIEW2_PDF_TOOLBAR_ITEMS_NONE;
  std::lock_guard<std::mutex> lock(gLogLock);
  gLog.clear();
  gPending.clear();
}

// Runs the completions queued so far (and any they queue).
__declspec(dllexport) void HbFakePump() {
  while (!gPending.empty()) {
    auto p = std::move(gPending.front());
    gPending.erase(gPending.begin());
    p();
  }
}

// The calls recorded so far, one a line, into buf; returns the length needed.
__declspec(dllexport) int HbFakeLog(char* buf, int size) {
  std::string all;
  {
    std::lock_guard<std::mutex> lock(gLogLock);
    for (const auto& l : gLog) all += l + "\n";
  }
  if (buf && size > 0) {
    int n = static_cast<int>(all.size()) < size - 1 ? static_cast<int>(all.size()) : size - 1;
    memcpy(buf, all.data(), static_cast<size_t>(n));
    buf[n] = 0;
  }
  return static_cast<int>(all.size()) + 1;
}

// The navigation under way ends (one with a fresh id when none is).
__declspec(dllexport) void HbFakeNavigation(BOOL ok, int webErrorStatus, int http) {
  UINT64 id = gNavigationUnderWay ? gNavigationUnderWay : ++gLastNavigationId;
  gNavigationUnderWay = 0;
  CompleteNavigation(id, ok, webErrorStatus, http);
}

// The page navigates by itself (a script's redirect or reload); started from the pump.
__declspec(dllexport) void HbFakePageNavigation(const char* uri) {
  BeginNavigation(uri, false);
}

__declspec(dllexport) void HbFakeWebMessage(const char* json) {
  auto args = Adopt<ICoreWebView2WebMessageReceivedEventArgs>(new TMessageArgs(json));
  INVOKE(gEvents.Message, ICoreWebView2WebMessageReceivedEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
}

__declspec(dllexport) void HbFakeResourceRequest(const char* uri) {
  auto args = Adopt<ICoreWebView2WebResourceRequestedEventArgs>(new TResourceArgs(uri));
  INVOKE(gEvents.Resource, ICoreWebView2WebResourceRequestedEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
}

__declspec(dllexport) void HbFakeProcessFailed(int kind);

// A newer runtime is installed: every running browser's environments hear of it; browsers
// started from now on have the new version.
__declspec(dllexport) void HbFakeNewBrowserVersion(const char* version) {
  gBrowserVersion = version;
  auto all = gProcesses;
  for (const auto& p : all) {
    auto handlers = p->NewVersion;
    for (const auto& h : handlers)
      INVOKE(h, ICoreWebView2NewBrowserVersionAvailableEventHandler,
             [&](auto* a) { a->Invoke(p->Sender, nullptr); });
  }
}

// Another copy's browser runs on the folder with these options ("language|arguments") until
// HbFakeEndForeignBrowsers.
__declspec(dllexport) void HbFakeForeignBrowser(const char* folder, const char* options) {
  auto p = std::make_shared<TBrowserProcess>();
  p->Folder = folder;
  p->Options = options;
  p->Foreign = true;
  gProcesses.push_back(p);
}

__declspec(dllexport) void HbFakeEndForeignBrowsers() {
  auto all = gProcesses;
  for (const auto& p : all)
    if (p->Foreign) EndBrowserProcess(p, 0);
}

// The browser process of the latest controller crashes: the web view reports ProcessFailed with
// BROWSER_PROCESS_EXITED, and the environment's exit event follows.
__declspec(dllexport) void HbFakeBrowserCrash() {
  if (!gCurrentProcess) return;
  auto p = gCurrentProcess;
  p->Alive = false; // from now on its environment refuses controllers
  HbFakeProcessFailed(0);
  p->Alive = true;
  EndBrowserProcess(p, 1);
}

__declspec(dllexport) void HbFakeProcessFailed(int kind) {
  auto args = Adopt<ICoreWebView2ProcessFailedEventArgs>(new TProcessArgs(kind));
  INVOKE(gEvents.Failed, ICoreWebView2ProcessFailedEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
}

// ---- The kiosk's adversaries, fired: each logs what the person at the screen would get ----

__declspec(dllexport) void HbFakeNewWindow(const char* uri) {
  auto args = Adopt(new TNewWindowArgs(uri));
  INVOKE(gKioskEvents.NewWindow, ICoreWebView2NewWindowRequestedEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
  Log(args.Get()->Handled && !args.Get()->Given ? "no window" : "popup window opened");
}

__declspec(dllexport) void HbFakeScriptDialog(int kind) {
  if (gDefaultScriptDialogs || !gKioskEvents.Dialog) {
    Log("modal dialog shown");
    return;
  }
  auto args = Adopt(new TDialogArgs(kind));
  INVOKE(gKioskEvents.Dialog, ICoreWebView2ScriptDialogOpeningEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
  Log(args.Get()->Accepted ? "dialog accepted" : "dialog cancelled");
}

__declspec(dllexport) void HbFakePermission(int kind) {
  auto args = Adopt(new TPermissionArgs(kind));
  INVOKE(gKioskEvents.Permission, ICoreWebView2PermissionRequestedEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
  const auto state = args.Get()->State;
  Log(state == COREWEBVIEW2_PERMISSION_STATE_DENY    ? "permission denied"
      : state == COREWEBVIEW2_PERMISSION_STATE_ALLOW ? "permission allowed"
                                                     : "permission prompt shown");
}

// A link to a file: the download starts unless a handler cancels it.
__declspec(dllexport) void HbFakeDownload(const char* uri) {
  Log(std::string("DownloadStarting ") + uri);
  auto args = Adopt(new TDownloadArgs());
  INVOKE(gKioskEvents.Download, ICoreWebView2DownloadStartingEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
  Log(args.Get()->Cancel ? "download cancelled" : "download saved");
}

// A file dragged from the desktop onto the display.
__declspec(dllexport) void HbFakeExternalDrop(const char* path) {
  Log(std::string("ExternalDrop ") + path);
  Log(gAllowExternalDrop ? "drop opened in a new window" : "drop refused");
}

// A person's navigation: every handler sees it, any may cancel it.
static void PersonNavigates(const char* uri, COREWEBVIEW2_NAVIGATION_KIND kind) {
  TRef<ICoreWebView2NavigationStartingEventArgs> args(
      Adopt<ICoreWebView2NavigationStartingEventArgs>(
          new TNavStartingArgs(uri, ++gLastNavigationId, true, kind)));
  auto handlers = gEvents.Starting;
  for (const auto& h : handlers)
    INVOKE(h, ICoreWebView2NavigationStartingEventHandler,
           [&](auto* a) { a->Invoke(gWebView, args.Get()); });
  const bool cancelled = static_cast<TNavStartingArgs*>(args.Get())->Cancelled();
  Log(std::string(cancelled ? "navigation cancelled " : "navigation goes to ") + uri);
}

// A link clicked.
__declspec(dllexport) void HbFakeNavigationStarting(const char* uri) {
  PersonNavigates(uri, COREWEBVIEW2_NAVIGATION_KIND_NEW_DOCUMENT);
}

// The mouse's back button, or the page's history.back(): back to an earlier entry.
__declspec(dllexport) void HbFakeHistoryNavigation(const char* uri) {
  PersonNavigates(uri, COREWEBVIEW2_NAVIGATION_KIND_BACK_OR_FORWARD);
}

// ---- Frames, sign-in prompts and other programs, fired ----

// The page puts a frame in: FrameCreated is raised for it. Returns its number.
__declspec(dllexport) int HbFakeFrameCreated() {
  auto frame = Adopt<ICoreWebView2Frame>(new TFrame());
  gFrameEvents.Frames.push_back(frame);
  auto args = Adopt<ICoreWebView2FrameCreatedEventArgs>(new TFrameCreatedArgs(frame.Get()));
  INVOKE(gFrameEvents.Created, ICoreWebView2FrameCreatedEventHandler,
         [&](auto* a) { a->Invoke(gWebView, args.Get()); });
  return static_cast<int>(gFrameEvents.Frames.size()) - 1;
}

// The frame's script runs window.chrome.webview.postMessage.
__declspec(dllexport) void HbFakeFrameWebMessage(int frame, const char* json) {
  if (frame < 0 || frame >= static_cast<int>(gFrameEvents.Frames.size())) return;
  auto* f = static_cast<TFrame*>(gFrameEvents.Frames[static_cast<size_t>(frame)].Get());
  if (!f->Message) {
    Log("frame message lost");
    return;
  }
  auto args = Adopt<ICoreWebView2WebMessageReceivedEventArgs>(new TMessageArgs(json));
  INVOKE(f->Message, ICoreWebView2FrameWebMessageReceivedEventHandler,
         [&](auto* a) { a->Invoke(f, args.Get()); });
}

// The runtime is about to hand an address to another program.
static std::string LaunchExternal(const std::string& uri) {
  auto args =
      RAISE(External, ICoreWebView2LaunchingExternalUriSchemeEventHandler, new TExternalArgs(uri));
  return args.Get()->Cancel ? "no program launched" : "open this app? prompt shown";
}

static bool IsExternalScheme(const std::string& uri) {
  for (const char* web : {"http:", "https:", "about:", "data:", "blob:", "javascript:"})
    if (_strnicmp(uri.c_str(), web, strlen(web)) == 0) return false;
  return true;
}

// A frame at any depth navigates (a link in it, its own script, the page setting its src).
__declspec(dllexport) void HbFakeFrameNavigation(const char* uri) {
  TRef<ICoreWebView2NavigationStartingEventArgs> args(
      Adopt<ICoreWebView2NavigationStartingEventArgs>(
          new TNavStartingArgs(uri, ++gLastNavigationId, true)));
  auto handlers = gFrameEvents.Starting;
  for (const auto& h : handlers)
    INVOKE(h, ICoreWebView2NavigationStartingEventHandler,
           [&](auto* a) { a->Invoke(gWebView, args.Get()); });
  if (static_cast<TNavStartingArgs*>(args.Get())->Cancelled())
    Log(std::string("frame navigation cancelled ") + uri);
  else if (IsExternalScheme(uri))
    Log(LaunchExternal(uri));
  else
    Log(std::string("frame goes to ") + uri);
}

// A navigation to another program's scheme the navigation events did not see: a server's
// redirect to it.
__declspec(dllexport) void HbFakeExternalLaunch(const char* uri) {
  Log(LaunchExternal(uri));
}

// A server of the page answers 401 with a Basic challenge.
__declspec(dllexport) void HbFakeSignIn() {
  auto args =
      RAISE(SignIn, ICoreWebView2BasicAuthenticationRequestedEventHandler, new TSignInArgs());
  Log(args.Get()->Cancel ? "sign-in refused" : "sign-in dialog shown");
}

// A PDF opens in the page or a frame: which of its viewer's buttons a person could use.
__declspec(dllexport) void HbFakePdfViewer() {
  std::string shown = "pdf viewer:";
  const struct {
    COREWEBVIEW2_PDF_TOOLBAR_ITEMS Item;
    const char* Name;
  } buttons[] = {{COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE, "save"},
                 {COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT, "print"},
                 {COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS, "save-as"},
                 {COREWEBVIEW2_PDF_TOOLBAR_ITEMS_ZOOM_IN, "zoom-in"},
                 {COREWEBVIEW2_PDF_TOOLBAR_ITEMS_FULL_SCREEN, "full-screen"},
                 {COREWEBVIEW2_PDF_TOOLBAR_ITEMS_MORE_SETTINGS, "more"}};
  for (const auto& b : buttons)
    if (!(gHiddenPdfItems & b.Item)) shown += std::string(" ") + b.Name;
  Log(shown);
}

// A server asks for a client certificate.
__declspec(dllexport) void HbFakeClientCertificate() {
  auto args = RAISE(Certificate, ICoreWebView2ClientCertificateRequestedEventHandler,
                    new TCertificateArgs());
  Log(args.Get()->Cancel    ? "certificate request aborted"
      : args.Get()->Handled ? "answered without a certificate"
                            : "certificate choice shown");
}

// The page's "save as" (a key, the viewer of a PDF, the runtime's own command).
__declspec(dllexport) void HbFakeSaveAs() {
  auto args = RAISE(SaveAs, ICoreWebView2SaveAsUIShowingEventHandler, new TSaveAsArgs());
  Log(args.Get()->Cancel     ? "nothing saved"
      : args.Get()->Suppress ? "saved without a dialog"
                             : "save dialog shown");
}

// The page's getDisplayMedia, after a click.
__declspec(dllexport) void HbFakeScreenCapture() {
  auto args =
      RAISE(Capture, ICoreWebView2ScreenCaptureStartingEventHandler, new TScreenCaptureArgs());
  Log(args.Get()->Cancel ? "screen capture refused" : "screen choice shown");
}
}

// ---- Self-driving runs: the real program meets the runtime's failures with nobody at it ----
//
// With HB_STANDIN_SCENARIO set (faults separated by commas), the stand-in drives itself from a
// timer of the user-interface thread's message loop, the way the runtime delivers its events:
// it runs what it has queued, completes each navigation a moment after it starts, and shows the
// page as a window of its own in the controller's bounds, below the program's cover, painted
// kMapColour (another colour where a renderer has gone). The faults are met in the order given,
// each where the real runtime meets it:
// - at an environment request: invalid-state (another copy's browser holds the data folder with
//   other options, and exits a moment after the refusal), missing (no runtime; one is installed
//   right after), abort, unexpected, disk-full, access-denied (the results Microsoft's reference
//   of CreateCoreWebView2EnvironmentWithOptions names as ones that may pass), busy (0x800700AA,
//   which users of the runtime's issue tracker report for a restart on the same folder), and
//   env-hang (the request is never answered);
// - at a navigation of the program's: nav-hang (it never completes), replaced (the page's own
//   redirect replaces it, and it completes with OPERATION_CANCELED);
// - a second after the map has shown: browser-exit, render-exit, hung, frame-exit (the kinds of
//   ProcessFailed as Microsoft's reference of COREWEBVIEW2_PROCESS_FAILED_KIND and of the event
//   describe them: the browser's exit takes its windows along; a page whose renderer exited
//   shows an error page until it is loaded again; a hung page completes nothing and hears the
//   event again every few seconds, 15 here; a frame's renderer leaves that part blank),
//   new-version (NewBrowserVersionAvailable).
// Every step goes to standin-trace.txt beside this file, a line each, "<ms> <what>": "map shown N"
// whenever the map has come on screen, "scenario done" once every fault has been met and the map
// is on screen again. Without the variable nothing here runs and the tests drive the stand-in.
namespace {

constexpr COLORREF kMapColour = RGB(0x21, 0xA0, 0x7A);
constexpr COLORREF kBlankColour = RGB(0x10, 0x10, 0x10);
constexpr COLORREF kGoneColour = RGB(0x80, 0x80, 0x80);
constexpr const wchar_t* kPageClass = L"HbStandInPage";
constexpr UINT kHungRepeatMs = 15000;
enum class TPage { pgBlank, pgMap, pgRendererGone, pgFrameGone };

struct TAuto {
  bool Started = false, On = false, InTick = false, Done = false;
  std::vector<std::string> Faults; // in order; Next is the one still to meet
  size_t Next = 0;
  std::vector<std::pair<ULONGLONG, std::function<void()>>> Due;
  std::wstring TracePath;
  HWND Page = nullptr;
  TPage State = TPage::pgBlank;
  unsigned Controller = 0; // a new serial with every controller made or closed
  unsigned Armed = 0;      // the serial of the latest runtime fault set to come
  int MapsShown = 0;
  bool Hung = false;
  bool Redirect = false; // the page's own redirect is starting: no fault for it
  bool ForeignEnds = false;
  std::vector<TRef<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>> Unanswered;
} gAuto;

void Trace(const std::string& what) {
  if (gAuto.TracePath.empty()) return;
  if (FILE* f = _wfopen(gAuto.TracePath.c_str(), L"ab")) {
    std::fprintf(f, "%llu %s\n", static_cast<unsigned long long>(GetTickCount64()), what.c_str());
    std::fclose(f);
  }
}
std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08lX", static_cast<unsigned long>(hr));
  return buf;
}
const std::string* NextFault() {
  return gAuto.Next < gAuto.Faults.size() ? &gAuto.Faults[gAuto.Next] : nullptr;
}
void Met(const std::string& fault) {
  Trace("fault " + fault);
  ++gAuto.Next;
}
void After(ULONGLONG ms, std::function<void()> action) {
  gAuto.Due.emplace_back(GetTickCount64() + ms, std::move(action));
}
void Repaint() {
  if (gAuto.Page) InvalidateRect(gAuto.Page, nullptr, FALSE);
}

LRESULT CALLBACK PageProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_ERASEBKGND) return 1;
  if (m != WM_PAINT) return DefWindowProcW(h, m, wp, lp);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  auto fill = [dc](const RECT& r, COLORREF c) {
    HBRUSH b = CreateSolidBrush(c);
    FillRect(dc, &r, b);
    DeleteObject(b);
  };
  fill(rc, gAuto.State == TPage::pgBlank          ? kBlankColour
           : gAuto.State == TPage::pgRendererGone ? kGoneColour
                                                  : kMapColour);
  // A frame whose renderer has gone: its part of the map is blank.
  if (gAuto.State == TPage::pgFrameGone) {
    const RECT frame{rc.right / 4, rc.bottom / 4, rc.right * 3 / 4, rc.bottom * 3 / 4};
    fill(frame, kGoneColour);
  }
  EndPaint(h, &ps);
  return 0;
}

void CALLBACK AutoTick(HWND, UINT, UINT_PTR, DWORD) {
  // A handler of the program's that runs a message loop of its own must not start another round.
  if (gAuto.InTick) return;
  gAuto.InTick = true;
  HbFakePump();
  const ULONGLONG now = GetTickCount64();
  std::vector<std::function<void()>> due;
  for (auto it = gAuto.Due.begin(); it != gAuto.Due.end();) {
    if (it->first > now) {
      ++it;
      continue;
    }
    due.push_back(std::move(it->second));
    it = gAuto.Due.erase(it);
  }
  for (auto& action : due) action();
  HbFakePump();
  gAuto.InTick = false;
}

void RepeatHung(unsigned controller) {
  After(kHungRepeatMs, [controller] {
    if (!gAuto.Hung || controller != gAuto.Controller) return;
    Trace("still unresponsive");
    HbFakeProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE);
    RepeatHung(controller);
  });
}

void InjectRuntimeFault() {
  const std::string* next = NextFault();
  if (!next) return;
  const std::string fault = *next;
  Met(fault);
  if (fault == "browser-exit") {
    // The browser's windows go with its process.
    if (gAuto.Page) DestroyWindow(gAuto.Page);
    gAuto.Page = nullptr;
    HbFakeBrowserCrash();
  } else if (fault == "render-exit") {
    gAuto.State = TPage::pgRendererGone;
    Repaint();
    HbFakeProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
  } else if (fault == "hung") {
    gAuto.Hung = true;
    HbFakeProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE);
    RepeatHung(gAuto.Controller);
  } else if (fault == "frame-exit") {
    gAuto.State = TPage::pgFrameGone;
    Repaint();
    HbFakeProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED);
  } else if (fault == "new-version") {
    HbFakeNewBrowserVersion("121.0.2277.83");
  }
}

bool RuntimeFault(const std::string& fault) {
  for (const char* f : {"browser-exit", "render-exit", "hung", "frame-exit", "new-version"})
    if (fault == f) return true;
  return false;
}

void MapShown() {
  // Loaded in a hidden controller (or a window already gone) is not on screen.
  if (!gAuto.Page || !IsWindowVisible(gAuto.Page)) {
    Trace("map loaded out of sight");
    return;
  }
  Trace("map shown " + std::to_string(++gAuto.MapsShown));
  const std::string* next = NextFault();
  if (!next) {
    if (!gAuto.Done) Trace("scenario done");
    gAuto.Done = true;
    return;
  }
  if (!RuntimeFault(*next)) return;
  const unsigned armed = ++gAuto.Armed, controller = gAuto.Controller;
  After(1000, [armed, controller] {
    if (armed == gAuto.Armed && controller == gAuto.Controller && gAuto.State == TPage::pgMap)
      InjectRuntimeFault();
  });
}

HMODULE SelfModule() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&SelfModule), &self);
  return self;
}

void AutoStart() {
  if (gAuto.Started) return;
  gAuto.Started = true;
  wchar_t text[1024];
  const DWORD n = GetEnvironmentVariableW(L"HB_STANDIN_SCENARIO", text, 1024);
  if (n == 0 || n >= 1024) return;
  gAuto.On = true;
  const std::string scenario = hb::win::Utf8(text, n);
  for (size_t at = 0; at <= scenario.size();) {
    size_t comma = scenario.find(',', at);
    if (comma == std::string::npos) comma = scenario.size();
    if (comma > at) gAuto.Faults.push_back(scenario.substr(at, comma - at));
    at = comma + 1;
  }
  HMODULE self = SelfModule();
  wchar_t path[MAX_PATH];
  const DWORD len = GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring folder(path, len);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  gAuto.TracePath = folder + L"standin-trace.txt";
  WNDCLASSW wc{};
  wc.lpfnWndProc = PageProc;
  wc.hInstance = self;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kPageClass;
  RegisterClassW(&wc);
  Trace("scenario " + scenario);
  SetTimer(nullptr, 0, 15, AutoTick);
}

bool AutoEnvironmentFault(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler,
                          const std::string& folder) {
  const std::string* next = gAuto.On ? NextFault() : nullptr;
  if (!next) return false;
  const std::string fault = *next;
  if (fault == "invalid-state") {
    // The model refuses the folder while that browser runs; it exits after the refusal.
    Met(fault);
    HbFakeForeignBrowser(folder.c_str(), "en-US|--another-copy");
    gAuto.ForeignEnds = true;
    return false;
  }
  if (fault == "env-hang") {
    Met(fault);
    gAuto.Unanswered.emplace_back(handler);
    return true;
  }
  const struct {
    const char* Name;
    HRESULT Result;
  } codes[] = {{"missing", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
               {"abort", E_ABORT},
               {"unexpected", E_UNEXPECTED},
               {"disk-full", HRESULT_FROM_WIN32(ERROR_DISK_FULL)},
               {"access-denied", E_ACCESSDENIED},
               {"busy", HRESULT_FROM_WIN32(ERROR_BUSY)}};
  for (const auto& c : codes) {
    if (fault != c.Name) continue;
    Met(fault);
    TRef<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> h(handler);
    INVOKE(h, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
           [&](auto* a) { a->Invoke(c.Result, nullptr); });
    AutoEnvironmentDone(c.Result);
    return true;
  }
  return false;
}

void AutoEnvironmentDone(HRESULT hr) {
  if (!gAuto.On) return;
  Trace("environment " + Hex(hr));
  if (gAuto.ForeignEnds) {
    gAuto.ForeignEnds = false;
    After(500, [] {
      Trace("the other copy's browser exits");
      HbFakeEndForeignBrowsers();
    });
  }
}

void AutoControllerDone(HRESULT hr, HWND parent) {
  if (!gAuto.On) return;
  Trace("controller " + Hex(hr));
  if (FAILED(hr)) return;
  ++gAuto.Controller;
  gAuto.Hung = false;
  gAuto.State = TPage::pgBlank;
  if (gAuto.Page) DestroyWindow(gAuto.Page);
  RECT rc{};
  GetClientRect(parent, &rc);
  gAuto.Page = CreateWindowExW(0, kPageClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                               rc.right, rc.bottom, parent, nullptr, SelfModule(), nullptr);
}

void AutoControllerClosed() {
  if (!gAuto.On) return;
  Trace("controller closed");
  ++gAuto.Controller;
  gAuto.Hung = false;
  // What the closed web view was loading goes with it.
  gNavigationUnderWay = 0;
  if (gAuto.Page) DestroyWindow(gAuto.Page);
  gAuto.Page = nullptr;
}

void AutoPageBounds(const RECT& r) {
  if (gAuto.On && gAuto.Page)
    MoveWindow(gAuto.Page, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

// A hidden controller hides its page, as the runtime's window does.
void AutoPageVisible(BOOL visible) {
  if (gAuto.On && gAuto.Page) ShowWindow(gAuto.Page, visible ? SW_SHOWNA : SW_HIDE);
}

void AutoNavigationBegun(UINT64 id, const std::string& uri) {
  if (!gAuto.On) return;
  const std::string* next = NextFault();
  if (gAuto.Redirect) {
    gAuto.Redirect = false;
  } else if (next && *next == "nav-hang") {
    Met(*next);
    return;
  } else if (next && *next == "replaced") {
    Met(*next);
    gAuto.Redirect = true;
    BeginNavigation(uri, false);
    return;
  }
  const unsigned controller = gAuto.Controller;
  After(150, [id, controller] {
    // Replaced meanwhile, its web view gone, or a renderer that answers nothing.
    if (controller != gAuto.Controller || gNavigationUnderWay != id || gAuto.Hung) return;
    gNavigationUnderWay = 0;
    gAuto.State = TPage::pgMap;
    Repaint();
    CompleteNavigation(id, TRUE, 0, 200);
    MapShown();
  });
}

} // namespace
