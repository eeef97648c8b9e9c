// WebView2 behind IBrowser. Depends on WebView2Loader.dll (loaded at run time; missing is a
// reported state, not a failed start) and ole32.
#include "WebView2Browser.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "BodyStream.h"
#include "UiGuard.h"
#include "WinText.h"

namespace hb::win {

using namespace wv2;

std::string TakeCoString(LPWSTR s) {
  if (!s) return {};
  std::string out = Utf8(s, wcslen(s));
  CoTaskMemFree(s);
  return out;
}

namespace {

LPWSTR CoCopy(const std::wstring& s) {
  auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
  if (p) memcpy(p, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
  return p;
}

using TAlive = std::shared_ptr<TWebView2Browser*>;

std::atomic<TOptionsTrace> OptionsTrace{nullptr};

// The options the environment is created with: language and extra browser switches. The loader
// is not ours: what it asks of this object can be watched through SetEnvironmentOptionsTrace.
class TEnvironmentOptions : public TComObject<ICoreWebView2EnvironmentOptions> {
 public:
  TEnvironmentOptions(std::wstring args, std::wstring language)
      : TComObject(IID_ICoreWebView2EnvironmentOptions), FArgs(std::move(args)),
        FLanguage(std::move(language)), FThread(GetCurrentThreadId()) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    HRESULT hr = TComObject::QueryInterface(riid, out);
    if (OptionsTrace.load()) {
      wchar_t iid[40] = L"";
      StringFromGUID2(riid, iid, 40);
      Trace(("QueryInterface " + Utf8(iid) + (SUCCEEDED(hr) ? " ok" : " no")).c_str());
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* v) override {
    Trace("get_AdditionalBrowserArguments");
    return Out(FArgs, v);
  }
  HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR v) override {
    Trace("put_AdditionalBrowserArguments");
    FArgs = v ? v : L"";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* v) override {
    Trace("get_Language");
    return Out(FLanguage, v);
  }
  HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR v) override {
    Trace("put_Language");
    FLanguage = v ? v : L"";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* v) override {
    Trace("get_TargetCompatibleBrowserVersion");
    return Out(FVersion, v);
  }
  HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR v) override {
    Trace("put_TargetCompatibleBrowserVersion");
    FVersion = v ? v : L"";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* v) override {
    Trace("get_AllowSingleSignOnUsingOSPrimaryAccount");
    if (!v) return E_POINTER;
    *v = FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL) override {
    Trace("put_AllowSingleSignOnUsingOSPrimaryAccount");
    return S_OK;
  }

 private:
  static HRESULT Out(const std::wstring& s, LPWSTR* v) {
    if (!v) return E_POINTER;
    *v = CoCopy(s);
    return *v ? S_OK : E_OUTOFMEMORY;
  }
  void Trace(const char* call) const {
    TOptionsTrace trace = OptionsTrace.load();
    if (!trace) return;
    std::string line = call;
    if (GetCurrentThreadId() != FThread) line += " (from another thread)";
    trace(line.c_str());
  }
  std::wstring FArgs, FLanguage;
  // The oldest runtime whose interfaces this program's declarations describe.
  std::wstring FVersion = L"86.0.616.0";
  DWORD FThread;
};

class TEnvironmentCompletedHandler
    : public TComObject<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> {
 public:
  TEnvironmentCompletedHandler(TAlive alive, unsigned generation)
      : TComObject(IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler),
        FAlive(std::move(alive)), FGeneration(generation) {}
  HRESULT STDMETHODCALLTYPE Invoke(HRESULT hr, ICoreWebView2Environment* env) override {
    CallbackGuarded([&] {
      if (TWebView2Browser* b = *FAlive) b->EnvironmentCreated(FGeneration, hr, env);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
  unsigned FGeneration;
};

class TControllerCompletedHandler
    : public TComObject<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> {
 public:
  TControllerCompletedHandler(TAlive alive, unsigned generation)
      : TComObject(IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler),
        FAlive(std::move(alive)), FGeneration(generation) {}
  HRESULT STDMETHODCALLTYPE Invoke(HRESULT hr, ICoreWebView2Controller* controller) override {
    CallbackGuarded([&] {
      if (TWebView2Browser* b = *FAlive) b->ControllerCreated(FGeneration, hr, controller);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
  unsigned FGeneration;
};

// Adding a document script completes later. The first navigation waits for that completion, so
// no document is created before the script is in place; the result itself changes nothing.
class TScriptAddedHandler
    : public TComObject<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> {
 public:
  TScriptAddedHandler(TAlive alive, unsigned generation)
      : TComObject(IID_ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler),
        FAlive(std::move(alive)), FGeneration(generation) {}
  HRESULT STDMETHODCALLTYPE Invoke(HRESULT, LPCWSTR) override {
    CallbackGuarded([&] {
      if (TWebView2Browser* b = *FAlive) b->ScriptAdded(FGeneration);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
  unsigned FGeneration;
};

class TNavCompletedHandler : public TComObject<ICoreWebView2NavigationCompletedEventHandler> {
 public:
  explicit TNavCompletedHandler(TAlive alive)
      : TComObject(IID_ICoreWebView2NavigationCompletedEventHandler), FAlive(std::move(alive)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                   ICoreWebView2NavigationCompletedEventArgs* args) override {
    CallbackGuarded([&] {
      TWebView2Browser* b = *FAlive;
      if (!b || !args) return;
      TNavCompleted nav;
      BOOL ok = FALSE;
      if (SUCCEEDED(args->get_IsSuccess(&ok))) nav.Success = ok != FALSE;
      COREWEBVIEW2_WEB_ERROR_STATUS status = 0;
      if (SUCCEEDED(args->get_WebErrorStatus(&status))) nav.WebErrorStatus = status;
      UINT64 id = 0;
      if (SUCCEEDED(args->get_NavigationId(&id))) nav.NavigationId = id;
      // The HTTP status exists only on runtimes that offer the second-generation arguments.
      auto args2 = TComPtr<ICoreWebView2NavigationCompletedEventArgs>::Share(args)
                       .As<ICoreWebView2NavigationCompletedEventArgs2>(
                           IID_ICoreWebView2NavigationCompletedEventArgs2);
      int http = 0;
      if (args2 && SUCCEEDED(args2->get_HttpStatusCode(&http))) nav.HttpStatus = http;
      // The committed document's address tells the map's page from another one the page led to.
      LPWSTR source = nullptr;
      if (nav.Success && sender && SUCCEEDED(sender->get_Source(&source)))
        nav.Uri = TakeCoString(source);
      nav.Source = b->NavigationSource(
          nav.NavigationId,
          !nav.Success && nav.WebErrorStatus == COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED);
      if (!b->OnNavigationCompleted) return;
      auto proc = b->OnNavigationCompleted;
      proc(nav);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
};

// The environment's browser process has exited: a re-creation waiting for it goes on.
class TBrowserExitedHandler : public TComObject<ICoreWebView2BrowserProcessExitedEventHandler> {
 public:
  TBrowserExitedHandler(TAlive alive, unsigned environment)
      : TComObject(IID_ICoreWebView2BrowserProcessExitedEventHandler), FAlive(std::move(alive)),
        FEnvironment(environment) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2Environment*,
                                   ICoreWebView2BrowserProcessExitedEventArgs*) override {
    CallbackGuarded([&] {
      if (TWebView2Browser* b = *FAlive) b->BrowserExited(FEnvironment);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
  unsigned FEnvironment;
};

// A newer runtime has been installed: the window takes it at a quiet moment.
class TNewVersionHandler : public TComObject<ICoreWebView2NewBrowserVersionAvailableEventHandler> {
 public:
  TNewVersionHandler(TAlive alive, unsigned environment)
      : TComObject(IID_ICoreWebView2NewBrowserVersionAvailableEventHandler),
        FAlive(std::move(alive)), FEnvironment(environment) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2Environment*, IUnknown*) override {
    CallbackGuarded([&] {
      if (TWebView2Browser* b = *FAlive) b->NewVersionAvailable(FEnvironment);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
  unsigned FEnvironment;
};

// Every top-level navigation starts here with its id, before it completes: the program's own
// are told apart from the page's here. The event allows several handlers; this is one of them.
class TNavStartingHandler : public TComObject<ICoreWebView2NavigationStartingEventHandler> {
 public:
  explicit TNavStartingHandler(TAlive alive)
      : TComObject(IID_ICoreWebView2NavigationStartingEventHandler), FAlive(std::move(alive)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2NavigationStartingEventArgs* args) override {
    CallbackGuarded([&] {
      if (TWebView2Browser* b = *FAlive; b && args) b->NavigationStarting(args);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
};

class TWebMessageHandler : public TComObject<ICoreWebView2WebMessageReceivedEventHandler> {
 public:
  explicit TWebMessageHandler(TAlive alive)
      : TComObject(IID_ICoreWebView2WebMessageReceivedEventHandler), FAlive(std::move(alive)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2WebMessageReceivedEventArgs* args) override {
    CallbackGuarded([&] {
      TWebView2Browser* b = *FAlive;
      if (!b || !args || !b->OnWebMessage) return;
      LPWSTR json = nullptr;
      if (FAILED(args->get_WebMessageAsJson(&json))) return;
      std::string text = TakeCoString(json);
      auto proc = b->OnWebMessage;
      proc(text);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
};

class TProcessFailedHandler : public TComObject<ICoreWebView2ProcessFailedEventHandler> {
 public:
  explicit TProcessFailedHandler(TAlive alive)
      : TComObject(IID_ICoreWebView2ProcessFailedEventHandler), FAlive(std::move(alive)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2ProcessFailedEventArgs* args) override {
    CallbackGuarded([&] {
      TWebView2Browser* b = *FAlive;
      if (!b || !args || !b->OnProcessFailed) return;
      COREWEBVIEW2_PROCESS_FAILED_KIND kind = 0;
      if (FAILED(args->get_ProcessFailedKind(&kind))) return;
      auto proc = b->OnProcessFailed;
      proc(kind);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
};

class TResourceRequestedHandler : public TComObject<ICoreWebView2WebResourceRequestedEventHandler> {
 public:
  explicit TResourceRequestedHandler(TAlive alive)
      : TComObject(IID_ICoreWebView2WebResourceRequestedEventHandler), FAlive(std::move(alive)) {}
  HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2*,
                                   ICoreWebView2WebResourceRequestedEventArgs* args) override {
    CallbackGuarded([&] {
      if (TWebView2Browser* b = *FAlive) b->ResourceRequested(args);
    });
    return S_OK;
  }

 private:
  TAlive FAlive;
};

} // namespace

void SetEnvironmentOptionsTrace(TOptionsTrace trace) {
  OptionsTrace = trace;
}

// Every WebView2 object belongs to the user-interface thread: it is called, AddRef'd and
// Released there only. A request the gateway cache lets go of on a fetch thread (the window
// closing drops its queued answer there) hands what it holds to this box instead; the box passes
// it on to the user-interface thread through the queue, and the browser empties it when it goes.
// After that nobody on the user-interface thread is left to take a late leftover, so it is
// leaked on purpose: the runtime is shutting down with the process, and a Release from the
// wrong thread is worse than a reference never given back.
class TUiThreadBox {
 public:
  struct TLeftover {
    TComPtr<ICoreWebView2WebResourceRequestedEventArgs> Args;
    TComPtr<ICoreWebView2Environment> Env;
    TComPtr<ICoreWebView2WebResourceRequest> Request;
    TComPtr<ICoreWebView2Deferral> Deferral;
    bool Complete = false; // the deferral is still open and must be completed
  };

  explicit TUiThreadBox(IUiQueue& queue) : FQueue(&queue), FUiThread(GetCurrentThreadId()) {}
  bool OnUiThread() const { return GetCurrentThreadId() == FUiThread; }

  // From any thread. Moving the pointers in makes no COM call.
  void Hand(TLeftover&& item, const std::shared_ptr<TUiThreadBox>& self) {
    std::lock_guard<std::mutex> lock(FLock);
    if (FClosed) {
      Leak(item);
      return;
    }
    FItems.push_back(std::move(item));
    if (FScheduled) return;
    FScheduled = true;
    std::weak_ptr<TUiThreadBox> weak = self;
    try {
      // The queue is used only while the box is open, and the browser closes the box before the
      // queue can go away. A procedure the queue drops holds no COM object.
      FQueue->Post([weak] {
        if (auto box = weak.lock()) box->Drain();
      });
    } catch (...) {
      FScheduled = false; // the browser's own Close takes the items
    }
  }

  // On the user-interface thread.
  void Drain() {
    std::vector<TLeftover> items;
    {
      std::lock_guard<std::mutex> lock(FLock);
      items.swap(FItems);
      FScheduled = false;
    }
    for (TLeftover& item : items)
      if (item.Complete && item.Deferral) item.Deferral->Complete();
    // Leaving scope releases every pointer, here on the user-interface thread.
  }

  // On the user-interface thread, when the browser goes: the last chance to release here.
  void Close() {
    Drain();
    std::lock_guard<std::mutex> lock(FLock);
    FClosed = true;
    for (TLeftover& item : FItems) Leak(item);
    FItems.clear();
  }

 private:
  static void Leak(TLeftover& item) {
    item.Args.Detach();
    item.Env.Detach();
    item.Request.Detach();
    item.Deferral.Detach();
  }

  IUiQueue* FQueue;
  DWORD FUiThread;
  std::mutex FLock;
  std::vector<TLeftover> FItems;
  bool FScheduled = false;
  bool FClosed = false;
};

namespace {

// One intercepted request as the core sees it. The core calls it on the user-interface thread,
// but may let go of it (and complete it on the way) on a fetch thread: those two go through the
// box. Any other call from the wrong thread answers as a failure without touching WebView2.
class TWebView2ResourceRequest : public IResourceRequest {
 public:
  TWebView2ResourceRequest(TComPtr<ICoreWebView2WebResourceRequestedEventArgs> args,
                           TComPtr<ICoreWebView2Environment> env, std::shared_ptr<TUiThreadBox> box)
      : FArgs(std::move(args)), FEnv(std::move(env)), FBox(std::move(box)) {
    FArgs->get_Request(FRequest.Put());
  }
  ~TWebView2ResourceRequest() override {
    if (FBox->OnUiThread()) {
      // A deferral left open would stall the page's request for good: close it.
      Complete();
      return;
    }
    TUiThreadBox::TLeftover item;
    item.Complete = FDeferral && !FCompleted;
    item.Args = std::move(FArgs);
    item.Env = std::move(FEnv);
    item.Request = std::move(FRequest);
    item.Deferral = std::move(FDeferral);
    FBox->Hand(std::move(item), FBox);
  }
  std::string Uri() override {
    LPWSTR s = nullptr;
    return OnUi() && FRequest && SUCCEEDED(FRequest->get_Uri(&s)) ? TakeCoString(s) : std::string();
  }
  std::string Method() override {
    LPWSTR s = nullptr;
    return OnUi() && FRequest && SUCCEEDED(FRequest->get_Method(&s)) ? TakeCoString(s)
                                                                     : std::string();
  }
  bool HasHeader(const std::string& name) override {
    if (!OnUi()) return false;
    TComPtr<ICoreWebView2HttpRequestHeaders> headers;
    BOOL has = FALSE;
    return FRequest && SUCCEEDED(FRequest->get_Headers(headers.Put())) && headers &&
           SUCCEEDED(headers->Contains(Wide(name).c_str(), &has)) && has;
  }
  bool Defer() override {
    if (!OnUi()) return false;
    if (FDeferral) return true;
    return SUCCEEDED(FArgs->GetDeferral(FDeferral.Put())) && FDeferral;
  }
  bool SetResponse(int status, const std::string& reason, const std::string& headers,
                   std::string body) override {
    if (!OnUi() || !FEnv) return false;
    // The stream takes the body over (a memory stream would copy it) and counts it against the
    // cache's budget until WebView2 is done with it.
    TComPtr<IStream> stream = TComPtr<IStream>::Attach(NewBodyStream(std::move(body)));
    if (!stream) return false;
    TComPtr<ICoreWebView2WebResourceResponse> response;
    if (FAILED(FEnv->CreateWebResourceResponse(stream.Get(), status, Wide(reason).c_str(),
                                               Wide(headers).c_str(), response.Put())) ||
        !response)
      return false;
    return SUCCEEDED(FArgs->put_Response(response.Get()));
  }
  void Complete() override {
    if (!FDeferral || FCompleted) return;
    FCompleted = true;
    if (FBox->OnUiThread()) {
      FDeferral->Complete();
      return;
    }
    TUiThreadBox::TLeftover item;
    item.Complete = true;
    item.Deferral = std::move(FDeferral);
    FBox->Hand(std::move(item), FBox);
  }

 private:
  bool OnUi() const { return FBox->OnUiThread(); }

  TComPtr<ICoreWebView2WebResourceRequestedEventArgs> FArgs;
  TComPtr<ICoreWebView2Environment> FEnv;
  TComPtr<ICoreWebView2WebResourceRequest> FRequest;
  TComPtr<ICoreWebView2Deferral> FDeferral;
  std::shared_ptr<TUiThreadBox> FBox;
  bool FCompleted = false;
};

} // namespace

TWebView2Browser::TWebView2Browser(HWND parent, IUiQueue& queue, std::wstring loaderPath)
    : FParent(parent), FQueue(queue), FLoaderPath(std::move(loaderPath)),
      FAlive(std::make_shared<TWebView2Browser*>(this)),
      FUiBox(std::make_shared<TUiThreadBox>(queue)) {}

namespace {
// The browsers waiting for an old browser process, by parent window (their timers' key).
std::vector<std::pair<HWND, TWebView2Browser*>> gExitWaits;
constexpr UINT_PTR kExitWaitTimer = 0x4842;
} // namespace

TWebView2Browser::~TWebView2Browser() {
  if (FWaitingExit) KillTimer(FParent, kExitWaitTimer);
  std::erase_if(gExitWaits, [this](const auto& w) { return w.second == this; });
  *FAlive = nullptr;
  ReleaseBrowser();
  FUiBox->Close();
  // The loader stays loaded: the runtime may still call into it while it shuts down.
}

void TWebView2Browser::ReleaseBrowser() {
  FSettings.Reset();
  FWebView.Reset();
  if (FController) FController->Close();
  FController.Reset();
  FEnv.Reset();
  FResourceHooked = false;
  FScriptsPending = 0;
  FConfiguredWaiters.clear();
  FOwnPending.clear();
  FOwnIds.clear();
  FLatestOwn = 0;
  FLatestOwnLive = false;
}

void TWebView2Browser::Fail(HRESULT hr) {
  if (SUCCEEDED(hr)) hr = E_FAIL; // a "success" without the object asked for is a failure
  std::weak_ptr<TWebView2Browser*> alive = FAlive;
  FQueue.Post([alive, hr] {
    auto a = alive.lock();
    if (!a || !*a) return;
    TWebView2Browser* b = *a;
    if (b->OnCreated) {
      auto proc = b->OnCreated;
      proc(static_cast<int32_t>(hr));
    }
  });
}

void TWebView2Browser::Create(const TBrowserOptions& options) {
  ++FGeneration;
  FOptions = options;
  // The old browser process may still run on the same folder (after a hung page, a set-up
  // deadline or a failed creation). Microsoft's reference of ICoreWebView2Environment5 has the
  // app close its controllers and wait for BrowserProcessExited before it makes a new
  // environment on that folder; a runtime without that event is not waited for.
  TComPtr<ICoreWebView2Environment5> old;
  if (FBrowserAlive && FEnv)
    old = FEnv.As<ICoreWebView2Environment5>(IID_ICoreWebView2Environment5);
  ReleaseBrowser();
  if (FWaitingExit) return; // already waiting: the new options are taken when it ends
  if (old) {
    FRetiring = std::move(old);
    FWaitingExit = true;
    std::erase_if(gExitWaits, [this](const auto& w) { return w.second == this; });
    gExitWaits.emplace_back(FParent, this);
    SetTimer(FParent, kExitWaitTimer, kBrowserExitWaitMs, &TWebView2Browser::ExitWaitElapsed);
    return;
  }
  StartEnvironment();
}

void CALLBACK TWebView2Browser::ExitWaitElapsed(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  KillTimer(hwnd, id);
  for (const auto& w : gExitWaits)
    if (w.first == hwnd) {
      CallbackGuarded([&] { w.second->ExitWaitOver(); });
      return;
    }
}

void TWebView2Browser::BrowserExited(unsigned environment) {
  if (environment != FEnvSerial) return;
  FBrowserAlive = false;
  if (FWaitingExit) ExitWaitOver();
}

void TWebView2Browser::NewVersionAvailable(unsigned environment) {
  if (environment != FEnvSerial || !OnNewBrowserVersion) return;
  auto proc = OnNewBrowserVersion;
  proc();
}

std::string TWebView2Browser::BrowserVersion() const {
  LPWSTR v = nullptr;
  return FEnv && SUCCEEDED(FEnv->get_BrowserVersionString(&v)) ? TakeCoString(v) : std::string();
}

void TWebView2Browser::ExitWaitOver() {
  if (!FWaitingExit) return;
  FWaitingExit = false;
  KillTimer(FParent, kExitWaitTimer);
  std::erase_if(gExitWaits, [this](const auto& w) { return w.second == this; });
  FRetiring.Reset();
  FBrowserAlive = false;
  StartEnvironment();
}

void TWebView2Browser::StartEnvironment() {
  const TBrowserOptions& options = FOptions;
  FMissingFile.clear();
  if (!FLoader) FLoader = LoadLibraryW(FLoaderPath.c_str());
  if (!FLoader) {
    // The loader's own load error: a file that is not there is named on the cover; anything
    // else (a damaged or 32-bit copy) keeps its code for whoever reads the log.
    DWORD error = GetLastError();
    if (error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND || error == 0) {
      size_t slash = FLoaderPath.find_last_of(L"\\/");
      FMissingFile = Utf8(FLoaderPath.substr(slash == std::wstring::npos ? 0 : slash + 1));
      error = ERROR_MOD_NOT_FOUND;
    }
    return Fail(HRESULT_FROM_WIN32(error));
  }
  auto create = reinterpret_cast<TCreateEnvironmentWithOptions>(
      reinterpret_cast<void*>(GetProcAddress(FLoader, kCreateEnvironmentExport)));
  if (!create) return Fail(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  auto opts = TComPtr<ICoreWebView2EnvironmentOptions>::Attach(
      new TEnvironmentOptions(Wide(options.AdditionalArgs), Wide(options.Language)));
  auto handler = TComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>::Attach(
      new TEnvironmentCompletedHandler(FAlive, FGeneration));
  std::wstring folder = Wide(options.UserDataFolder);
  HRESULT hr =
      create(nullptr, folder.empty() ? nullptr : folder.c_str(), opts.Get(), handler.Get());
  if (FAILED(hr)) Fail(hr);
}

void TWebView2Browser::EnvironmentCreated(unsigned generation, HRESULT hr,
                                          ICoreWebView2Environment* env) {
  if (generation != FGeneration) return;
  if (FAILED(hr) || !env) return Fail(hr);
  FEnv = TComPtr<ICoreWebView2Environment>::Share(env);
  ++FEnvSerial;
  FBrowserAlive = false;
  if (auto env5 = FEnv.As<ICoreWebView2Environment5>(IID_ICoreWebView2Environment5)) {
    EventRegistrationToken token{};
    auto exited = TComPtr<ICoreWebView2BrowserProcessExitedEventHandler>::Attach(
        new TBrowserExitedHandler(FAlive, FEnvSerial));
    FBrowserAlive = SUCCEEDED(env5->add_BrowserProcessExited(exited.Get(), &token));
  }
  {
    EventRegistrationToken token{};
    auto newer = TComPtr<ICoreWebView2NewBrowserVersionAvailableEventHandler>::Attach(
        new TNewVersionHandler(FAlive, FEnvSerial));
    FEnv->add_NewBrowserVersionAvailable(newer.Get(), &token); // without it: no update taken
  }
  auto handler = TComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>::Attach(
      new TControllerCompletedHandler(FAlive, FGeneration));
  HRESULT created = FEnv->CreateCoreWebView2Controller(FParent, handler.Get());
  if (FAILED(created)) Fail(created);
}

void TWebView2Browser::ControllerCreated(unsigned generation, HRESULT hr,
                                         ICoreWebView2Controller* controller) {
  if (generation != FGeneration) return;
  if (FAILED(hr) || !controller) return Fail(hr);
  FController = TComPtr<ICoreWebView2Controller>::Share(controller);
  HRESULT got = FController->get_CoreWebView2(FWebView.Put());
  if (FAILED(got) || !FWebView) {
    ReleaseBrowser();
    return Fail(got);
  }
  FitToParent();
  // Until the page paints, the browser shows the window's colour, not white. Runtimes before
  // the second controller generation lack it and keep their default.
  if (auto c2 = FController.As<ICoreWebView2Controller2>(IID_ICoreWebView2Controller2))
    c2->put_DefaultBackgroundColor(COREWEBVIEW2_COLOR{0xFF, 0x07, 0x0D, 0x18});
  // A browser that cannot be shown or cannot tell how its navigations end is of no use to the
  // display: either counts as a failed creation, with the runtime's own code.
  EventRegistrationToken token{};
  auto nav = TComPtr<ICoreWebView2NavigationCompletedEventHandler>::Attach(
      new TNavCompletedHandler(FAlive));
  auto msg =
      TComPtr<ICoreWebView2WebMessageReceivedEventHandler>::Attach(new TWebMessageHandler(FAlive));
  auto failed =
      TComPtr<ICoreWebView2ProcessFailedEventHandler>::Attach(new TProcessFailedHandler(FAlive));
  auto starting =
      TComPtr<ICoreWebView2NavigationStartingEventHandler>::Attach(new TNavStartingHandler(FAlive));
  HRESULT step = FController->put_IsVisible(TRUE);
  if (SUCCEEDED(step)) step = FWebView->add_NavigationStarting(starting.Get(), &token);
  if (SUCCEEDED(step)) step = FWebView->add_NavigationCompleted(nav.Get(), &token);
  if (SUCCEEDED(step)) step = FWebView->add_WebMessageReceived(msg.Get(), &token);
  if (SUCCEEDED(step)) step = FWebView->add_ProcessFailed(failed.Get(), &token);
  if (FAILED(step)) {
    ReleaseBrowser();
    return Fail(step);
  }
  // A lock-down handler the runtime refuses leaves the others in place.
  LockDownWebView(FWebView.Get(), FController.Get(), msg.Get(), FLockState);
  if (OnWindowCreated) OnWindowCreated();
  if (OnCreated) {
    auto proc = OnCreated;
    proc(S_OK);
  }
}

void TWebView2Browser::MoveFocus() {
  // Only while our window is the one the person works in: on a computer the display shares, the
  // keyboard stays with the program that has it.
  if (!FController || GetForegroundWindow() != GetAncestor(FParent, GA_ROOT)) return;
  FController->MoveFocus(0 /* COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC */);
}

void TWebView2Browser::ParentMoved() {
  if (FController) FController->NotifyParentWindowPositionChanged();
}

void TWebView2Browser::FitToParent() {
  if (!FController) return;
  RECT r{};
  if (GetClientRect(FParent, &r)) FController->put_Bounds(r);
}

bool TWebView2Browser::SetSetting(TBrowserSetting setting, bool on) {
  if (!FWebView) return false;
  if (!FSettings && FAILED(FWebView->get_Settings(FSettings.Put()))) return false;
  if (!FSettings) return false;
  BOOL v = on ? TRUE : FALSE;
  auto gen = [&]<class T>(const GUID& iid, T*) { return FSettings.As<T>(iid); };
  switch (setting) {
  case TBrowserSetting::bsDefaultContextMenus:
    return SUCCEEDED(FSettings->put_AreDefaultContextMenusEnabled(v));
  case TBrowserSetting::bsStatusBar:
    return SUCCEEDED(FSettings->put_IsStatusBarEnabled(v));
  case TBrowserSetting::bsDevTools:
    return SUCCEEDED(FSettings->put_AreDevToolsEnabled(v));
  case TBrowserSetting::bsZoomControl:
    return SUCCEEDED(FSettings->put_IsZoomControlEnabled(v));
  case TBrowserSetting::bsWebMessages:
    return SUCCEEDED(FSettings->put_IsWebMessageEnabled(v));
  case TBrowserSetting::bsAcceleratorKeys: {
    auto s = gen(IID_ICoreWebView2Settings3, static_cast<ICoreWebView2Settings3*>(nullptr));
    return s && SUCCEEDED(s->put_AreBrowserAcceleratorKeysEnabled(v));
  }
  case TBrowserSetting::bsPasswordAutosave: {
    auto s = gen(IID_ICoreWebView2Settings4, static_cast<ICoreWebView2Settings4*>(nullptr));
    return s && SUCCEEDED(s->put_IsPasswordAutosaveEnabled(v));
  }
  case TBrowserSetting::bsGeneralAutofill: {
    auto s = gen(IID_ICoreWebView2Settings4, static_cast<ICoreWebView2Settings4*>(nullptr));
    return s && SUCCEEDED(s->put_IsGeneralAutofillEnabled(v));
  }
  case TBrowserSetting::bsPinchZoom: {
    auto s = gen(IID_ICoreWebView2Settings5, static_cast<ICoreWebView2Settings5*>(nullptr));
    return s && SUCCEEDED(s->put_IsPinchZoomEnabled(v));
  }
  case TBrowserSetting::bsSwipeNavigation: {
    auto s = gen(IID_ICoreWebView2Settings6, static_cast<ICoreWebView2Settings6*>(nullptr));
    return s && SUCCEEDED(s->put_IsSwipeNavigationEnabled(v));
  }
  }
  return false;
}

void TWebView2Browser::AddScriptOnDocumentCreated(const std::string& script) {
  if (!FWebView) return;
  auto handler = TComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>::Attach(
      new TScriptAddedHandler(FAlive, FGeneration));
  // Counted before the call: a runtime may complete it before returning.
  ++FScriptsPending;
  if (FAILED(FWebView->AddScriptToExecuteOnDocumentCreated(Wide(script).c_str(), handler.Get())))
    --FScriptsPending; // refused at once: no completion will come
}

void TWebView2Browser::ScriptAdded(unsigned generation) {
  if (generation != FGeneration || FScriptsPending <= 0) return;
  --FScriptsPending;
  CheckConfigured();
}

void TWebView2Browser::WhenConfigured(std::function<void()> proc) {
  if (!FWebView || !proc) return;
  FConfiguredWaiters.push_back(std::move(proc));
  // Every script may have completed already; the waiter still runs later, never in here.
  std::weak_ptr<TWebView2Browser*> alive = FAlive;
  FQueue.Post([alive, generation = FGeneration] {
    auto a = alive.lock();
    if (a && *a && (*a)->FGeneration == generation) (*a)->CheckConfigured();
  });
}

void TWebView2Browser::CheckConfigured() {
  if (FScriptsPending > 0 || FConfiguredWaiters.empty()) return;
  auto waiters = std::move(FConfiguredWaiters);
  FConfiguredWaiters.clear();
  for (auto& w : waiters) w();
}

void TWebView2Browser::Navigate(const std::string& url) {
  if (!FWebView) return;
  // From this call on, the navigation under way (if any) is a replaced one.
  const unsigned call = ++FNavigateCalls;
  FLatestOwn = 0;
  FLatestOwnLive = false;
  FLockState->OwnNavigation(url);
  const std::wstring uri = Wide(url);
  // Waiting before the call: a runtime may raise NavigationStarting before Navigate returns.
  FOwnPending.push_back(uri);
  HRESULT hr = FWebView->Navigate(uri.c_str());
  if (SUCCEEDED(hr)) return;
  if (!FOwnPending.empty()) FOwnPending.pop_back();
  // A refused navigation never completes by itself; report it as one that got no answer, so the
  // window shows its cover and tries again instead of waiting for good (unless a later call
  // replaced it meanwhile).
  std::weak_ptr<TWebView2Browser*> alive = FAlive;
  FQueue.Post([alive, call] {
    auto a = alive.lock();
    if (!a || !*a || !(*a)->OnNavigationCompleted) return;
    TNavCompleted nav;
    nav.Source = call == (*a)->FNavigateCalls ? nsOwn : nsReplaced;
    auto proc = (*a)->OnNavigationCompleted;
    proc(nav);
  });
}

void TWebView2Browser::NavigationStarting(ICoreWebView2NavigationStartingEventArgs* args) {
  UINT64 id = 0;
  if (FAILED(args->get_NavigationId(&id))) return;
  // A redirect keeps its navigation's id: nothing new.
  if (FOwnIds.count(id)) return;
  LPWSTR raw = nullptr;
  std::wstring uri;
  if (SUCCEEDED(args->get_Uri(&raw)) && raw) {
    uri = raw;
    CoTaskMemFree(raw);
  }
  // A runtime that remembered nothing of a thousand ids would not complete them either.
  if (FOwnIds.size() > 1000) FOwnIds.clear();
  if (!FOwnPending.empty()) {
    // One of our calls. Matched by address; a runtime that spells the address its own way
    // (escaping, a trailing slash) is taken to start the oldest call still waiting.
    auto it = std::find(FOwnPending.begin(), FOwnPending.end(), uri);
    if (it == FOwnPending.end()) it = FOwnPending.begin();
    FOwnPending.erase(FOwnPending.begin(), it + 1);
    FOwnIds.insert(id);
    if (FOwnPending.empty()) {
      FLatestOwn = id;
      FLatestOwnLive = true;
    }
    return;
  }
  // The page navigates while our latest is still loading (its own redirect or reload): the
  // runtime cancels ours, and the page's navigation is now what the window will show. It
  // takes our navigation's place, so its outcome decides the cover and ends the deadline.
  if (FLatestOwnLive) {
    FOwnIds.insert(id);
    FLatestOwn = id;
  }
}

TNavSource TWebView2Browser::NavigationSource(uint64_t id, bool cancelled) {
  if (id != 0 && id == FLatestOwn) {
    // Cancelled: something replaced it (the runtime may raise this before the replacing
    // navigation's start). It stays open for a page's navigation to take its place, and says
    // nothing itself: the window's deadline still runs if nothing follows.
    if (cancelled) return nsReplaced;
    FLatestOwnLive = false;
    FOwnIds.erase(id);
    return nsOwn;
  }
  if (FOwnIds.erase(id)) return nsReplaced;
  return nsPage;
}

bool TWebView2Browser::AddResourceFilter(const std::string& uriPattern) {
  return FWebView && SUCCEEDED(FWebView->AddWebResourceRequestedFilter(
                         Wide(uriPattern).c_str(), COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL));
}

bool TWebView2Browser::SetResourceRequestedHandler(TResourceRequestedProc proc) {
  if (!FWebView) return false;
  FResourceProc = std::move(proc);
  if (FResourceHooked) return true;
  auto handler = TComPtr<ICoreWebView2WebResourceRequestedEventHandler>::Attach(
      new TResourceRequestedHandler(FAlive));
  EventRegistrationToken token{};
  FResourceHooked = SUCCEEDED(FWebView->add_WebResourceRequested(handler.Get(), &token));
  return FResourceHooked;
}

void TWebView2Browser::ResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* args) {
  if (!args || !FResourceProc) return;
  auto request = std::make_shared<TWebView2ResourceRequest>(
      TComPtr<ICoreWebView2WebResourceRequestedEventArgs>::Share(args), FEnv, FUiBox);
  auto proc = FResourceProc;
  proc(std::move(request));
}

} // namespace hb::win
