// A stand-in for WebView2Loader.dll: implements the environment, controller, web view, settings
// and event argument objects from the program's own interface declarations, records every call
// the adapter makes, and lets the test fire events. Completions run when the test pumps them,
// as the real runtime delivers them later through the message loop.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "WebView2Abi.h"
#include "WinText.h"

using namespace hb::wv2;
using hb::win::TComObject;
using hb::win::TComPtr;

namespace {

std::vector<std::string> gLog;
std::vector<std::function<void()>> gPending;
unsigned gFlags = 0;
enum : unsigned {
  kFailEnvironment = 1,     // the environment completion reports a failure
  kNoNewerSettings = 2,     // only the first two settings generations exist
  kNoHttpStatus = 4,        // navigation arguments without the second generation
  kRefuseSynchronously = 8, // CreateCoreWebView2EnvironmentWithOptions itself fails
};

void Log(const std::string& s) {
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

// The runtime asks the program's objects for their interfaces; one that does not answer for
// its own id (or for IUnknown) is recorded, and the test's expected log has no such line.
template <class T> T* Checked(T* object, const GUID& iid, const char* name) {
  void* p = nullptr;
  if (FAILED(object->QueryInterface(iid, &p)) || p != static_cast<void*>(object))
    Log(std::string("QueryInterface failed: ") + name);
  else
    object->Release();
  if (FAILED(object->QueryInterface(IID_IUnknown, &p)) || !p)
    Log(std::string("IUnknown failed: ") + name);
  else
    static_cast<IUnknown*>(p)->Release();
  return object;
}
#define CHECKED(object, Iface) Checked(object, IID_##Iface, #Iface)

#define STUB(name, ...)                                                                            \
  HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override {                                           \
    return E_NOTIMPL;                                                                              \
  }
#define BOOLPUT(name)                                                                              \
  HRESULT STDMETHODCALLTYPE name(BOOL v) override {                                                \
    Log(std::string(#name "=") + (v ? "1" : "0"));                                                 \
    return S_OK;                                                                                   \
  }

class TSettings : public TComObject<ICoreWebView2Settings6> {
 public:
  TSettings() : TComObject(IID_ICoreWebView2Settings) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    const GUID* newer[] = {&IID_ICoreWebView2Settings2, &IID_ICoreWebView2Settings3,
                           &IID_ICoreWebView2Settings4, &IID_ICoreWebView2Settings5,
                           &IID_ICoreWebView2Settings6};
    for (int i = 0; i < 5; ++i) {
      if (!IsEqualGUID(riid, *newer[i])) continue;
      if ((gFlags & kNoNewerSettings) && i >= 1) break;
      *out = static_cast<ICoreWebView2Settings6*>(this);
      AddRef();
      return S_OK;
    }
    return TComObject::QueryInterface(riid, out);
  }
  STUB(get_IsScriptEnabled, BOOL*)
  BOOLPUT(put_IsScriptEnabled)
  STUB(get_IsWebMessageEnabled, BOOL*)
  BOOLPUT(put_IsWebMessageEnabled)
  STUB(get_AreDefaultScriptDialogsEnabled, BOOL*)
  BOOLPUT(put_AreDefaultScriptDialogsEnabled)
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
};

class TNavArgs : public TComObject<ICoreWebView2NavigationCompletedEventArgs2> {
 public:
  TNavArgs(bool ok, int status, int http)
      : TComObject(IID_ICoreWebView2NavigationCompletedEventArgs), FOk(ok), FStatus(status),
        FHttp(http) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualGUID(riid, IID_ICoreWebView2NavigationCompletedEventArgs2) &&
        !(gFlags & kNoHttpStatus)) {
      *out = static_cast<ICoreWebView2NavigationCompletedEventArgs2*>(this);
      AddRef();
      return S_OK;
    }
    return TComObject::QueryInterface(riid, out);
  }
  HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* v) override {
    *v = FOk;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* v) override {
    *v = FStatus;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* v) override {
    *v = 77;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_HttpStatusCode(int* v) override {
    *v = FHttp;
    return S_OK;
  }

 private:
  BOOL FOk;
  int FStatus, FHttp;
};

class TMessageArgs : public TComObject<ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  explicit TMessageArgs(std::string json)
      : TComObject(IID_ICoreWebView2WebMessageReceivedEventArgs), FJson(std::move(json)) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* v) override {
    *v = CoCopy("https://cloud.test/");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* v) override {
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

class THeaders : public TComObject<ICoreWebView2HttpRequestHeaders> {
 public:
  THeaders() : TComObject(IID_ICoreWebView2HttpRequestHeaders) {}
  STUB(GetHeader, LPCWSTR, LPWSTR*)
  STUB(GetHeaders, LPCWSTR, IUnknown**)
  HRESULT STDMETHODCALLTYPE Contains(LPCWSTR name, BOOL* v) override {
    Log("Contains " + W(name));
    *v = _wcsicmp(name, L"Range") == 0;
    return S_OK;
  }
  STUB(SetHeader, LPCWSTR, LPCWSTR)
  STUB(RemoveHeader, LPCWSTR)
  STUB(GetIterator, IUnknown**)
};

class TRequest : public TComObject<ICoreWebView2WebResourceRequest> {
 public:
  explicit TRequest(std::string uri)
      : TComObject(IID_ICoreWebView2WebResourceRequest), FUri(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* v) override {
    *v = CoCopy(FUri);
    return S_OK;
  }
  STUB(put_Uri, LPCWSTR)
  HRESULT STDMETHODCALLTYPE get_Method(LPWSTR* v) override {
    *v = CoCopy("GET");
    return S_OK;
  }
  STUB(put_Method, LPCWSTR)
  STUB(get_Content, IStream**)
  STUB(put_Content, IStream*)
  HRESULT STDMETHODCALLTYPE get_Headers(ICoreWebView2HttpRequestHeaders** v) override {
    *v = new THeaders();
    return S_OK;
  }

 private:
  std::string FUri;
};

class TResponse : public TComObject<ICoreWebView2WebResourceResponse> {
 public:
  TResponse() : TComObject(IID_ICoreWebView2WebResourceResponse) {}
  STUB(get_Content, IStream**)
  STUB(put_Content, IStream*)
  STUB(get_Headers, IUnknown**)
  STUB(get_StatusCode, int*)
  STUB(put_StatusCode, int)
  STUB(get_ReasonPhrase, LPWSTR*)
  STUB(put_ReasonPhrase, LPCWSTR)
};

class TDeferral : public TComObject<ICoreWebView2Deferral> {
 public:
  TDeferral() : TComObject(IID_ICoreWebView2Deferral) {}
  HRESULT STDMETHODCALLTYPE Complete() override {
    Log("Deferral.Complete");
    return S_OK;
  }
};

class TResourceArgs : public TComObject<ICoreWebView2WebResourceRequestedEventArgs> {
 public:
  explicit TResourceArgs(std::string uri)
      : TComObject(IID_ICoreWebView2WebResourceRequestedEventArgs), FUri(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Request(ICoreWebView2WebResourceRequest** v) override {
    *v = new TRequest(FUri);
    return S_OK;
  }
  STUB(get_Response, ICoreWebView2WebResourceResponse**)
  HRESULT STDMETHODCALLTYPE put_Response(ICoreWebView2WebResourceResponse* r) override {
    Log(r ? "put_Response" : "put_Response(null)");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** v) override {
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

class TProcessArgs : public TComObject<ICoreWebView2ProcessFailedEventArgs> {
 public:
  explicit TProcessArgs(int kind)
      : TComObject(IID_ICoreWebView2ProcessFailedEventArgs), FKind(kind) {}
  HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* v) override {
    *v = FKind;
    return S_OK;
  }

 private:
  int FKind;
};

// Holds the one handler registered for each event the program uses.
struct TEvents {
  TComPtr<ICoreWebView2NavigationCompletedEventHandler> Nav;
  TComPtr<ICoreWebView2WebMessageReceivedEventHandler> Message;
  TComPtr<ICoreWebView2WebResourceRequestedEventHandler> Resource;
  TComPtr<ICoreWebView2ProcessFailedEventHandler> Failed;
} gEvents;

ICoreWebView2* gWebView = nullptr;

class TWebView : public TComObject<ICoreWebView2> {
 public:
  TWebView() : TComObject(IID_ICoreWebView2) {}
  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** v) override {
    Log("get_Settings");
    *v = new TSettings();
    return S_OK;
  }
  STUB(get_Source, LPWSTR*)
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
    Log("Navigate " + W(uri));
    return wcsstr(uri, L"refused") ? E_INVALIDARG : S_OK;
  }
  STUB(NavigateToString, LPCWSTR)
  STUB(add_NavigationStarting, IUnknown*, EventRegistrationToken*)
  STUB(remove_NavigationStarting, EventRegistrationToken)
  STUB(add_ContentLoading, IUnknown*, EventRegistrationToken*)
  STUB(remove_ContentLoading, EventRegistrationToken)
  STUB(add_SourceChanged, IUnknown*, EventRegistrationToken*)
  STUB(remove_SourceChanged, EventRegistrationToken)
  STUB(add_HistoryChanged, IUnknown*, EventRegistrationToken*)
  STUB(remove_HistoryChanged, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* h,
                                                    EventRegistrationToken* t) override {
    Log("add_NavigationCompleted");
    gEvents.Nav = TComPtr<ICoreWebView2NavigationCompletedEventHandler>::Share(
        CHECKED(h, ICoreWebView2NavigationCompletedEventHandler));
    t->value = 1;
    return S_OK;
  }
  STUB(remove_NavigationCompleted, EventRegistrationToken)
  STUB(add_FrameNavigationStarting, IUnknown*, EventRegistrationToken*)
  STUB(remove_FrameNavigationStarting, EventRegistrationToken)
  STUB(add_FrameNavigationCompleted, IUnknown*, EventRegistrationToken*)
  STUB(remove_FrameNavigationCompleted, EventRegistrationToken)
  STUB(add_ScriptDialogOpening, IUnknown*, EventRegistrationToken*)
  STUB(remove_ScriptDialogOpening, EventRegistrationToken)
  STUB(add_PermissionRequested, IUnknown*, EventRegistrationToken*)
  STUB(remove_PermissionRequested, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* h,
                                              EventRegistrationToken* t) override {
    Log("add_ProcessFailed");
    gEvents.Failed = TComPtr<ICoreWebView2ProcessFailedEventHandler>::Share(
        CHECKED(h, ICoreWebView2ProcessFailedEventHandler));
    t->value = 2;
    return S_OK;
  }
  STUB(remove_ProcessFailed, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR js, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* h) override {
    Log("AddScript " + W(js));
    auto handler = TComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>::Share(
        CHECKED(h, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler));
    gPending.push_back([handler] { handler->Invoke(S_OK, L"script-id"); });
    return S_OK;
  }
  STUB(RemoveScriptToExecuteOnDocumentCreated, LPCWSTR)
  STUB(ExecuteScript, LPCWSTR, IUnknown*)
  STUB(CapturePreview, int, IStream*, IUnknown*)
  STUB(Reload)
  STUB(PostWebMessageAsJson, LPCWSTR)
  STUB(PostWebMessageAsString, LPCWSTR)
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* h,
                                                   EventRegistrationToken* t) override {
    Log("add_WebMessageReceived");
    gEvents.Message = TComPtr<ICoreWebView2WebMessageReceivedEventHandler>::Share(
        CHECKED(h, ICoreWebView2WebMessageReceivedEventHandler));
    t->value = 3;
    return S_OK;
  }
  STUB(remove_WebMessageReceived, EventRegistrationToken)
  STUB(CallDevToolsProtocolMethod, LPCWSTR, LPCWSTR, IUnknown*)
  STUB(get_BrowserProcessId, UINT32*)
  STUB(get_CanGoBack, BOOL*)
  STUB(get_CanGoForward, BOOL*)
  STUB(GoBack)
  STUB(GoForward)
  STUB(GetDevToolsProtocolEventReceiver, LPCWSTR, IUnknown**)
  STUB(Stop)
  STUB(add_NewWindowRequested, IUnknown*, EventRegistrationToken*)
  STUB(remove_NewWindowRequested, EventRegistrationToken)
  STUB(add_DocumentTitleChanged, IUnknown*, EventRegistrationToken*)
  STUB(remove_DocumentTitleChanged, EventRegistrationToken)
  STUB(get_DocumentTitle, LPWSTR*)
  STUB(AddHostObjectToScript, LPCWSTR, VARIANT*)
  STUB(RemoveHostObjectFromScript, LPCWSTR)
  STUB(OpenDevToolsWindow)
  STUB(add_ContainsFullScreenElementChanged, IUnknown*, EventRegistrationToken*)
  STUB(remove_ContainsFullScreenElementChanged, EventRegistrationToken)
  STUB(get_ContainsFullScreenElement, BOOL*)
  HRESULT STDMETHODCALLTYPE add_WebResourceRequested(
      ICoreWebView2WebResourceRequestedEventHandler* h, EventRegistrationToken* t) override {
    Log("add_WebResourceRequested");
    gEvents.Resource = TComPtr<ICoreWebView2WebResourceRequestedEventHandler>::Share(
        CHECKED(h, ICoreWebView2WebResourceRequestedEventHandler));
    t->value = 4;
    return S_OK;
  }
  STUB(remove_WebResourceRequested, EventRegistrationToken)
  HRESULT STDMETHODCALLTYPE
  AddWebResourceRequestedFilter(LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) override {
    Log("AddFilter " + W(uri) + " " + std::to_string(context));
    return S_OK;
  }
  STUB(RemoveWebResourceRequestedFilter, LPCWSTR, COREWEBVIEW2_WEB_RESOURCE_CONTEXT)
  STUB(add_WindowCloseRequested, IUnknown*, EventRegistrationToken*)
  STUB(remove_WindowCloseRequested, EventRegistrationToken)
};

class TController : public TComObject<ICoreWebView2Controller2> {
 public:
  TController() : TComObject(IID_ICoreWebView2Controller) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    // The second controller generation comes with the newer runtimes.
    if (IsEqualGUID(riid, IID_ICoreWebView2Controller2) && !(gFlags & kNoNewerSettings)) {
      *out = static_cast<ICoreWebView2Controller2*>(this);
      AddRef();
      return S_OK;
    }
    return TComObject::QueryInterface(riid, out);
  }
  STUB(get_DefaultBackgroundColor, COREWEBVIEW2_COLOR*)
  HRESULT STDMETHODCALLTYPE put_DefaultBackgroundColor(COREWEBVIEW2_COLOR c) override {
    char argb[16];
    std::snprintf(argb, sizeof argb, "%02X%02X%02X%02X", c.A, c.R, c.G, c.B);
    Log(std::string("put_DefaultBackgroundColor ") + argb);
    return S_OK;
  }
  STUB(get_IsVisible, BOOL*)
  BOOLPUT(put_IsVisible)
  STUB(get_Bounds, RECT*)
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT r) override {
    Log("put_Bounds " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
    return S_OK;
  }
  STUB(get_ZoomFactor, double*)
  STUB(put_ZoomFactor, double)
  STUB(add_ZoomFactorChanged, IUnknown*, EventRegistrationToken*)
  STUB(remove_ZoomFactorChanged, EventRegistrationToken)
  STUB(SetBoundsAndZoomFactor, RECT, double)
  HRESULT STDMETHODCALLTYPE MoveFocus(int reason) override {
    Log("MoveFocus " + std::to_string(reason));
    return S_OK;
  }
  STUB(add_MoveFocusRequested, IUnknown*, EventRegistrationToken*)
  STUB(remove_MoveFocusRequested, EventRegistrationToken)
  STUB(add_GotFocus, IUnknown*, EventRegistrationToken*)
  STUB(remove_GotFocus, EventRegistrationToken)
  STUB(add_LostFocus, IUnknown*, EventRegistrationToken*)
  STUB(remove_LostFocus, EventRegistrationToken)
  STUB(add_AcceleratorKeyPressed, IUnknown*, EventRegistrationToken*)
  STUB(remove_AcceleratorKeyPressed, EventRegistrationToken)
  STUB(get_ParentWindow, HWND*)
  STUB(put_ParentWindow, HWND)
  STUB(NotifyParentWindowPositionChanged)
  HRESULT STDMETHODCALLTYPE Close() override {
    Log("Close");
    gEvents = {};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** v) override {
    Log("get_CoreWebView2");
    *v = new TWebView();
    gWebView = *v;
    return S_OK;
  }
};

class TEnvironment : public TComObject<ICoreWebView2Environment> {
 public:
  TEnvironment() : TComObject(IID_ICoreWebView2Environment) {}
  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* h) override {
    Log(std::string("CreateController ") + (IsWindow(parent) ? "window" : "no-window"));
    auto handler = TComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>::Share(
        CHECKED(h, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler));
    gPending.push_back([handler] {
      auto c = TComPtr<ICoreWebView2Controller>::Attach(new TController());
      handler->Invoke(S_OK, c.Get());
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  CreateWebResourceResponse(IStream* content, int status, LPCWSTR reason, LPCWSTR headers,
                            ICoreWebView2WebResourceResponse** r) override {
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
  STUB(get_BrowserVersionString, LPWSTR*)
  STUB(add_NewBrowserVersionAvailable, IUnknown*, EventRegistrationToken*)
  STUB(remove_NewBrowserVersionAvailable, EventRegistrationToken)
};

} // namespace

extern "C" {

__declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    LPCWSTR browserFolder, LPCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  if (gFlags & kRefuseSynchronously) return E_ACCESSDENIED;
  LPWSTR args = nullptr, lang = nullptr, version = nullptr;
  BOOL sso = TRUE;
  CHECKED(options, ICoreWebView2EnvironmentOptions);
  options->get_TargetCompatibleBrowserVersion(&version);
  options->get_AllowSingleSignOnUsingOSPrimaryAccount(&sso);
  if (!version || !*version || sso) Log("unexpected options");
  CoTaskMemFree(version);
  options->get_AdditionalBrowserArguments(&args);
  options->get_Language(&lang);
  Log("CreateEnvironment browser=" + W(browserFolder) + " data=" + W(userDataFolder) +
      " lang=" + W(lang) + " args=" + W(args));
  CoTaskMemFree(args);
  CoTaskMemFree(lang);
  auto h = TComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>::Share(
      CHECKED(handler, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler));
  gPending.push_back([h] {
    if (gFlags & kFailEnvironment) {
      h->Invoke(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), nullptr);
      return;
    }
    auto env = TComPtr<ICoreWebView2Environment>::Attach(new TEnvironment());
    h->Invoke(S_OK, env.Get());
  });
  return S_OK;
}

__declspec(dllexport) void HbFakeConfigure(unsigned flags) {
  gFlags = flags;
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
  for (const auto& l : gLog) all += l + "\n";
  if (buf && size > 0) {
    int n = static_cast<int>(all.size()) < size - 1 ? static_cast<int>(all.size()) : size - 1;
    memcpy(buf, all.data(), static_cast<size_t>(n));
    buf[n] = 0;
  }
  return static_cast<int>(all.size()) + 1;
}

__declspec(dllexport) void HbFakeNavigation(BOOL ok, int webErrorStatus, int http) {
  auto args = TComPtr<ICoreWebView2NavigationCompletedEventArgs>::Attach(
      new TNavArgs(ok, webErrorStatus, http));
  if (gEvents.Nav) gEvents.Nav->Invoke(gWebView, args.Get());
}

__declspec(dllexport) void HbFakeWebMessage(const char* json) {
  auto args = TComPtr<ICoreWebView2WebMessageReceivedEventArgs>::Attach(new TMessageArgs(json));
  if (gEvents.Message) gEvents.Message->Invoke(gWebView, args.Get());
}

__declspec(dllexport) void HbFakeResourceRequest(const char* uri) {
  auto args = TComPtr<ICoreWebView2WebResourceRequestedEventArgs>::Attach(new TResourceArgs(uri));
  if (gEvents.Resource) gEvents.Resource->Invoke(gWebView, args.Get());
}

__declspec(dllexport) void HbFakeProcessFailed(int kind) {
  auto args = TComPtr<ICoreWebView2ProcessFailedEventArgs>::Attach(new TProcessArgs(kind));
  if (gEvents.Failed) gEvents.Failed->Invoke(gWebView, args.Get());
}
}
