// Runs the real WebView2 adapter against the stand-in runtime built beside this program from
// Microsoft's WebView2.h: every COM call the adapter makes goes through an official vtable slot,
// and every handler is reached through its official interface id.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "WebView2Browser.h"
#include "Win32System.h"
#include "WinText.h"
#include "WinUiQueue.h"

namespace hb::win {
namespace {

struct TFake {
  HMODULE Dll = nullptr;
  void (*Configure)(unsigned) = nullptr;
  void (*Pump)() = nullptr;
  int (*LogText)(char*, int) = nullptr;
  void (*Navigation)(BOOL, int, int) = nullptr;
  void (*WebMessage)(const char*) = nullptr;
  void (*Resource)(const char*) = nullptr;
  void (*ProcessFailed)(int) = nullptr;
  void (*PageNavigation)(const char*) = nullptr;
  void (*ForeignBrowser)(const char*, const char*) = nullptr;
  void (*EndForeignBrowsers)() = nullptr;
  void (*BrowserCrash)() = nullptr;
  void (*NewBrowserVersion)(const char*) = nullptr;
  void (*NewWindow)(const char*) = nullptr;
  void (*ScriptDialog)(int) = nullptr;
  void (*Permission)(int) = nullptr;
  void (*NavigationStarting)(const char*) = nullptr;
  void (*HistoryNavigation)(const char*) = nullptr;
  void (*Download)(const char*) = nullptr;
  void (*ExternalDrop)(const char*) = nullptr;
  int (*FrameCreated)() = nullptr;
  void (*FrameWebMessage)(int, const char*) = nullptr;
  void (*FrameNavigation)(const char*) = nullptr;
  void (*ExternalLaunch)(const char*) = nullptr;
  void (*SignIn)() = nullptr;
  void (*PdfViewer)() = nullptr;
  void (*ClientCertificate)() = nullptr;
  void (*SaveAs)() = nullptr;
  void (*ScreenCapture)() = nullptr;
  template <class T> void Get(T& fn, const char* name) {
    fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(Dll, name)));
  }
  explicit TFake(const std::wstring& path) {
    Dll = LoadLibraryW(path.c_str()); // the adapter's LoadLibraryW then finds the same module
    Get(Configure, "HbFakeConfigure");
    Get(Pump, "HbFakePump");
    Get(LogText, "HbFakeLog");
    Get(Navigation, "HbFakeNavigation");
    Get(WebMessage, "HbFakeWebMessage");
    Get(Resource, "HbFakeResourceRequest");
    Get(ProcessFailed, "HbFakeProcessFailed");
    Get(PageNavigation, "HbFakePageNavigation");
    Get(ForeignBrowser, "HbFakeForeignBrowser");
    Get(EndForeignBrowsers, "HbFakeEndForeignBrowsers");
    Get(BrowserCrash, "HbFakeBrowserCrash");
    Get(NewBrowserVersion, "HbFakeNewBrowserVersion");
    Get(NewWindow, "HbFakeNewWindow");
    Get(ScriptDialog, "HbFakeScriptDialog");
    Get(Permission, "HbFakePermission");
    Get(NavigationStarting, "HbFakeNavigationStarting");
    Get(HistoryNavigation, "HbFakeHistoryNavigation");
    Get(Download, "HbFakeDownload");
    Get(ExternalDrop, "HbFakeExternalDrop");
    Get(FrameCreated, "HbFakeFrameCreated");
    Get(FrameWebMessage, "HbFakeFrameWebMessage");
    Get(FrameNavigation, "HbFakeFrameNavigation");
    Get(ExternalLaunch, "HbFakeExternalLaunch");
    Get(SignIn, "HbFakeSignIn");
    Get(PdfViewer, "HbFakePdfViewer");
    Get(ClientCertificate, "HbFakeClientCertificate");
    Get(SaveAs, "HbFakeSaveAs");
    Get(ScreenCapture, "HbFakeScreenCapture");
  }
  std::string Log() {
    std::string s(static_cast<size_t>(LogText(nullptr, 0)), '\0');
    LogText(s.data(), static_cast<int>(s.size()));
    s.pop_back();
    return s;
  }
};

class WebView2Abi : public ::testing::Test {
 protected:
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    auto* q = reinterpret_cast<TWinUiQueue*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (q && q->HandleMessage(m, wp, lp)) return 0;
    return DefWindowProcW(h, m, wp, lp);
  }
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HbAbiHost";
    RegisterClassW(&wc);
    FWindow = CreateWindowW(L"HbAbiHost", L"host", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr,
                            wc.hInstance, nullptr);
    FQueue = std::make_unique<TWinUiQueue>(FWindow);
    SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(FQueue.get()));
    FLoader = Wide(TWin32System().ExeFolder()) + L"WebView2Loader.dll";
    FFake = std::make_unique<TFake>(FLoader);
    ASSERT_TRUE(FFake->Dll && FFake->Configure && FFake->Pump) << "stand-in loader missing";
    FFake->Configure(0);
  }
  void TearDown() override {
    // What a real runtime would refuse or trip over: a handler that does not answer for its
    // official id, a slot the adapter should never have called, a call from a fetch thread.
    std::string log = FFake->Log();
    for (const char* bad : {"QueryInterface failed", "unexpected call", "called off the UI thread"})
      EXPECT_EQ(log.find(bad), std::string::npos) << log;
    FQueue->Shutdown();
    DestroyWindow(FWindow);
  }
  void PumpMessages() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }
  std::unique_ptr<TWebView2Browser> MakeBrowser(const std::wstring& loader) {
    auto b = std::make_unique<TWebView2Browser>(FWindow, *FQueue, loader);
    b->OnCreated = [this](int32_t hr) { FCreated.push_back(hr); };
    return b;
  }
  TBrowserOptions Options() {
    return {"C:\\data\\hallBoard\\WebView2", "zh-CN",
            "--disable-background-timer-throttling --autoplay-policy=no-user-gesture-required"};
  }

  HWND FWindow = nullptr;
  std::unique_ptr<TWinUiQueue> FQueue;
  std::wstring FLoader;
  std::unique_ptr<TFake> FFake;
  std::vector<int32_t> FCreated;
};

TEST_F(WebView2Abi, CreationLockDownScriptsNavigationMessagesAndResources) {
  auto b = MakeBrowser(FLoader);
  TNavCompleted nav;
  std::vector<std::string> messages;
  std::vector<int32_t> failed;
  b->OnNavigationCompleted = [&](const TNavCompleted& n) { nav = n; };
  b->OnWebMessage = [&](const std::string& json) { messages.push_back(json); };
  b->OnProcessFailed = [&](int32_t kind) { failed.push_back(kind); };
  b->Create(Options());
  EXPECT_TRUE(FCreated.empty()); // the outcome arrives later, never inside Create
  FFake->Pump();
  ASSERT_EQ(FCreated, std::vector<int32_t>{0});
  ASSERT_TRUE(b->HasWebView());
  EXPECT_NE(b->WebViewIdentity(), nullptr);

  for (auto s : {TBrowserSetting::bsDefaultContextMenus, TBrowserSetting::bsStatusBar,
                 TBrowserSetting::bsDevTools, TBrowserSetting::bsZoomControl,
                 TBrowserSetting::bsAcceleratorKeys, TBrowserSetting::bsPasswordAutosave,
                 TBrowserSetting::bsGeneralAutofill, TBrowserSetting::bsPinchZoom,
                 TBrowserSetting::bsSwipeNavigation})
    EXPECT_TRUE(b->SetSetting(s, false)) << static_cast<int>(s);
  EXPECT_TRUE(b->SetSetting(TBrowserSetting::bsWebMessages, true));
  b->AddScriptOnDocumentCreated("window.__hbHideCursor=true;");
  // The window navigates only once the runtime has completed every script's addition.
  bool configured = false;
  b->WhenConfigured([&] { configured = true; });
  PumpMessages();
  EXPECT_FALSE(configured);
  FFake->Pump();
  EXPECT_TRUE(configured);
  b->Navigate("https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3");
  FFake->Pump();

  FFake->Navigation(FALSE, 0, 404);
  EXPECT_FALSE(nav.Success);
  EXPECT_EQ(nav.HttpStatus, 404);
  EXPECT_NE(nav.NavigationId, 0u);
  EXPECT_EQ(nav.Source, nsOwn);
  FFake->Navigation(FALSE, 7, 0);
  EXPECT_EQ(nav.WebErrorStatus, 7);
  EXPECT_EQ(nav.HttpStatus, 0);

  FFake->WebMessage("\"menu\"");
  FFake->WebMessage("{\"a\":\"机位\"}");
  EXPECT_EQ(messages, (std::vector<std::string>{"\"menu\"", "{\"a\":\"机位\"}"}));

  std::shared_ptr<IResourceRequest> held;
  ASSERT_TRUE(b->AddResourceFilter("*/assets/*"));
  ASSERT_TRUE(b->SetResourceRequestedHandler([&](std::shared_ptr<IResourceRequest> r) {
    EXPECT_EQ(r->Uri(), "https://cloud.test/assets/a.png");
    EXPECT_EQ(r->Method(), "GET");
    EXPECT_TRUE(r->HasHeader("range"));
    EXPECT_FALSE(r->HasHeader("X-Other"));
    ASSERT_TRUE(r->Defer());
    held = r; // answered later, as the gateway cache does from its fetch thread's result
  }));
  FFake->Resource("https://cloud.test/assets/a.png");
  ASSERT_TRUE(held);
  EXPECT_TRUE(held->SetResponse(200, "OK", "Content-Type: image/png\r\nCache-Control: max-age=60",
                                "PNGDATA"));
  held->Complete();
  held->Complete(); // once only
  held.reset();

  FFake->ProcessFailed(1);
  EXPECT_EQ(failed, std::vector<int32_t>{1});
  // The keyboard is taken only while the window is the foreground one.
  b->MoveFocus();
  ShowWindow(FWindow, SW_SHOW);
  SetForegroundWindow(FWindow);
  PumpMessages();
  if (GetForegroundWindow() == FWindow)
    b->MoveFocus();
  else
    ADD_FAILURE() << "the test window could not be brought to the foreground";
  b->ParentMoved();

  std::string log = FFake->Log();
  const char* expected[] = {
      "CreateEnvironment browser=(null) data=C:\\data\\hallBoard\\WebView2 lang=zh-CN "
      "args=--disable-background-timer-throttling --autoplay-policy=no-user-gesture-required",
      "add_BrowserProcessExited",
      "add_NewBrowserVersionAvailable",
      "CreateController window",
      "get_CoreWebView2",
      "put_Bounds 640x480",
      "put_DefaultBackgroundColor FF070D18", // the window's colour until the page paints
      "put_IsVisible=1",
      "add_NavigationStarting",
      "add_NavigationCompleted",
      "add_WebMessageReceived",
      "add_ProcessFailed",
      // The kiosk's lock-down: no runtime dialogs, and a handler for each adversary.
      "get_Settings",
      "put_AreDefaultScriptDialogsEnabled=0",
      "put_IsBuiltInErrorPageEnabled=0",
      "put_HiddenPdfToolbarItems=6151", // save, print, save as, full screen, more
      "add_NewWindowRequested",
      "add_ScriptDialogOpening",
      "add_PermissionRequested",
      "add_NavigationStarting",
      "add_FrameNavigationStarting",
      "AddScript (function(){window.print=function(){};document.addEventListener(\"keydown\","
      "function(e){var k=e.key;if((e.ctrlKey||e.metaKey)&&(k===\"p\"||k===\"P\"||k===\"s\"||"
      "k===\"S\"))e.preventDefault();},true);})();",
      "add_DownloadStarting",
      "add_FrameCreated",
      "add_ClientCertificateRequested",
      "add_BasicAuthenticationRequested",
      "add_LaunchingExternalUriScheme",
      "add_SaveAsUIShowing",
      "add_ScreenCaptureStarting",
      "put_AllowExternalDrop=0",
      "get_Settings",
      "put_AreDefaultContextMenusEnabled=0",
      "put_IsStatusBarEnabled=0",
      "put_AreDevToolsEnabled=0",
      "put_IsZoomControlEnabled=0",
      "put_AreBrowserAcceleratorKeysEnabled=0",
      "put_IsPasswordAutosaveEnabled=0",
      "put_IsGeneralAutofillEnabled=0",
      "put_IsPinchZoomEnabled=0",
      "put_IsSwipeNavigationEnabled=0",
      "put_IsWebMessageEnabled=1",
      "AddScript window.__hbHideCursor=true;",
      "Navigate https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3",
      "NavigationStarting 1001 https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3",
      "AddFilter */assets/* 0",
      "add_WebResourceRequested",
      "Contains range",
      "Contains X-Other",
      "GetDeferral",
      "CreateResponse 200 OK [Content-Type: image/png\r\nCache-Control: max-age=60] PNGDATA",
      "put_Response",
      "Deferral.Complete",
      "Deferral released",
      "MoveFocus 0", // programmatic, once: the first call came while another window had the focus
      "NotifyParentWindowPositionChanged",
  };
  std::string want;
  for (auto e : expected) want += std::string(e) + "\n";
  EXPECT_EQ(log, want);
  b.reset();
  EXPECT_NE(FFake->Log().find("Close"), std::string::npos);
}

TEST_F(WebView2Abi, NothingThePageOrAPasserByAsksForGetsPastTheLockDown) {
  auto last = [this] {
    std::string log = FFake->Log();
    log.pop_back(); // the final line break
    return log.substr(log.rfind('\n') + 1);
  };
  // The runtime's own defaults, with nobody handling anything.
  FFake->NewWindow("https://cloud.test/news");
  EXPECT_EQ(last(), "popup window opened");
  FFake->ScriptDialog(0);
  EXPECT_EQ(last(), "modal dialog shown");
  FFake->Permission(4);
  EXPECT_EQ(last(), "permission prompt shown");
  FFake->Download("https://cloud.test/files/setup.exe");
  EXPECT_EQ(last(), "download saved");
  FFake->ExternalDrop("C:\\Users\\Public\\Desktop\\notes.html");
  EXPECT_EQ(last(), "drop opened in a new window");

  auto b = MakeBrowser(FLoader);
  b->Create(Options());
  FFake->Pump();
  ASSERT_EQ(FCreated, std::vector<int32_t>{0});
  EXPECT_NE(FFake->Log().find("put_AreDefaultScriptDialogsEnabled=0"), std::string::npos);
  // Before the program has chosen a page, no origin is known: its first navigation goes ahead.
  FFake->NavigationStarting("https://cloud.test/seatmap/display?m=3");
  EXPECT_EQ(last(), "navigation goes to https://cloud.test/seatmap/display?m=3");
  b->Navigate("https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3");
  FFake->Pump();

  for (const char* uri : {"https://cloud.test/news", "https://elsewhere.test/", "about:blank"}) {
    FFake->NewWindow(uri);
    EXPECT_EQ(last(), "no window") << uri;
  }
  const char* const dialogs[] = {"dialog accepted", "dialog cancelled", "dialog cancelled",
                                 "dialog accepted"}; // alert, confirm, prompt, beforeunload
  for (int kind = 0; kind < 4; ++kind) {
    FFake->ScriptDialog(kind);
    EXPECT_EQ(last(), dialogs[kind]) << kind;
  }
  for (int kind = 0; kind <= 13; ++kind) { // every kind the SDK names, and beyond
    FFake->Permission(kind);
    EXPECT_EQ(last(), "permission denied") << kind;
  }
  for (const char* uri : {"https://cloud.test/files/setup.exe", "https://elsewhere.test/a.zip",
                          "data:application/octet-stream;base64,AAAA"}) {
    FFake->Download(uri);
    EXPECT_EQ(last(), "download cancelled") << uri;
  }
  FFake->ExternalDrop("C:\\Users\\Public\\Desktop\\notes.html");
  EXPECT_EQ(last(), "drop refused");
  struct TCase {
    const char* Uri;
    bool Goes;
  } navigations[] = {
      {"https://cloud.test/shop/news?id=3", true},
      {"https://CLOUD.test:443/seatmap/display#seat", true},
      {"https://elsewhere.test/", false},
      {"http://cloud.test/seatmap/display", false}, // another scheme
      {"https://cloud.test:8443/", false},          // another port
      {"https://cloud.test.elsewhere.test/", false},
      {"file:///C:/Windows/win.ini", false},
      {"mailto:someone@cloud.test", false},
  };
  for (const TCase& c : navigations) {
    FFake->NavigationStarting(c.Uri);
    EXPECT_EQ(last(),
              std::string(c.Goes ? "navigation goes to " : "navigation cancelled ") + c.Uri);
  }
}

// The history holds pages the program has since left; the runtime cannot clear it, so the mouse's
// back button and the page's history.back() are cancelled, even within the cloud's own origin.
// An older runtime does not tell them from a link: there back within the origin still goes ahead.
TEST_F(WebView2Abi, BackAndForwardAreCancelledWhereTheRuntimeTellsThemApart) {
  struct TCase {
    const char* Runtime;
    unsigned Flags;
    bool BackGoes;
  } runtimes[] = {{"current", 0, false}, {"older", 2 | 4, true}};
  for (const TCase& r : runtimes) {
    FFake->Configure(r.Flags);
    auto b = MakeBrowser(FLoader);
    b->Create(Options());
    FFake->Pump();
    b->Navigate("https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3");
    FFake->Pump();
    auto last = [this] {
      std::string log = FFake->Log();
      log.pop_back();
      return log.substr(log.rfind('\n') + 1);
    };
    const char* back = "https://cloud.test/seatmap/display?NetBarId=5&embed=1&m=3";
    FFake->HistoryNavigation(back);
    EXPECT_EQ(last(),
              std::string(r.BackGoes ? "navigation goes to " : "navigation cancelled ") + back)
        << r.Runtime;
    FFake->NavigationStarting("https://cloud.test/shop/news?id=3"); // an ordinary link
    EXPECT_EQ(last(), "navigation goes to https://cloud.test/shop/news?id=3") << r.Runtime;
    FFake->HistoryNavigation("https://elsewhere.test/");
    EXPECT_EQ(last(), "navigation cancelled https://elsewhere.test/") << r.Runtime;
    b.reset();
  }
}

// A right-click in a frame posts "menu" through the frame's own object, which the runtime never
// hands to the web view's handler; the frame's new windows, dialogs, downloads and permissions
// come to the web view's handlers, as the page's do.
TEST_F(WebView2Abi, FramesReachTheProgramsMenuAndAreLockedDownAsThePageIs) {
  auto last = [this] {
    std::string log = FFake->Log();
    log.pop_back();
    return log.substr(log.rfind('\n') + 1);
  };
  // The runtime's default: nobody hears a frame.
  FFake->FrameWebMessage(FFake->FrameCreated(), "\"menu\"");
  EXPECT_EQ(last(), "frame message lost");

  auto b = MakeBrowser(FLoader);
  std::vector<std::string> messages;
  b->OnWebMessage = [&](const std::string& json) { messages.push_back(json); };
  b->Create(Options());
  FFake->Pump();
  ASSERT_EQ(FCreated, std::vector<int32_t>{0});
  b->Navigate("https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3");
  FFake->Pump();
  const int same = FFake->FrameCreated(), other = FFake->FrameCreated();
  FFake->FrameWebMessage(same, "\"menu\"");
  FFake->FrameWebMessage(other, "\"input\"");
  FFake->FrameWebMessage(other, "\"menu\"");
  EXPECT_EQ(messages, (std::vector<std::string>{"\"menu\"", "\"input\"", "\"menu\""}));
  EXPECT_EQ(FFake->Log().find("frame message lost", FFake->Log().find("Navigate ")),
            std::string::npos);

  // What a frame asks for, as the page's requests: nothing opens, nothing is kept.
  FFake->NewWindow("https://elsewhere.test/ad");
  EXPECT_EQ(last(), "no window");
  FFake->ScriptDialog(0);
  EXPECT_EQ(last(), "dialog accepted");
  FFake->Download("https://elsewhere.test/a.zip");
  EXPECT_EQ(last(), "download cancelled");
  FFake->Permission(1); // COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION
  EXPECT_EQ(last(), "permission denied");
}

// Another program's scheme (mailto:, ms-settings: ...) never leaves the display, from the page or
// from a frame at any depth; a server's sign-in or certificate prompt, the save dialog, the choice
// of a screen to share, the runtime's error page and the PDF viewer's save and print buttons never
// show. An older runtime without the newer events is still covered by the navigation events, and
// keeps what only the newer generations can stop.
TEST_F(WebView2Abi, NoOtherProgramPromptOrFileDialogIsReached) {
  auto last = [this] {
    std::string log = FFake->Log();
    log.pop_back();
    return log.substr(log.rfind('\n') + 1);
  };
  // The runtime's defaults.
  FFake->FrameNavigation("ms-settings:privacy");
  EXPECT_EQ(last(), "open this app? prompt shown");
  FFake->SignIn();
  EXPECT_EQ(last(), "sign-in dialog shown");
  FFake->PdfViewer();
  EXPECT_EQ(last(), "pdf viewer: save print save-as zoom-in full-screen more");
  FFake->ClientCertificate();
  EXPECT_EQ(last(), "certificate choice shown");
  FFake->SaveAs();
  EXPECT_EQ(last(), "save dialog shown");
  FFake->ScreenCapture();
  EXPECT_EQ(last(), "screen choice shown");

  struct TRuntime {
    const char* Name;
    unsigned Flags;
    const char* Redirect; // a server's redirect to another program's scheme
    const char* SignIn;
    const char* Pdf;
    const char* Certificate;
    const char* SaveAs;
    const char* Capture;
  } runtimes[] = {
      {"current", 0, "no program launched", "sign-in refused", "pdf viewer: zoom-in",
       "answered without a certificate", "nothing saved", "screen capture refused"},
      {"up to the fourth generation", 0x1000, "open this app? prompt shown", "sign-in dialog shown",
       "pdf viewer: zoom-in", "certificate choice shown", "save dialog shown",
       "screen choice shown"},
      {"first generation only", 2 | 4, "open this app? prompt shown", "sign-in dialog shown",
       "pdf viewer: save print save-as zoom-in full-screen more", "certificate choice shown",
       "save dialog shown", "screen choice shown"},
  };
  for (const TRuntime& r : runtimes) {
    FFake->Configure(r.Flags);
    auto b = MakeBrowser(FLoader);
    b->Create(Options());
    FFake->Pump();
    ASSERT_FALSE(FCreated.empty()) << r.Name;
    EXPECT_EQ(FCreated.back(), 0) << r.Name;
    // Before the program has chosen its page, as after.
    for (bool chosen : {false, true}) {
      if (chosen) {
        b->Navigate("https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3");
        FFake->Pump();
      }
      for (const char* uri :
           {"mailto:someone@cloud.test", "ms-settings:privacy", "search-ms:query=x",
            "MS-WINDOWS-STORE://pdp/?productid=1", "tel:+86100", "file:///C:/Windows/win.ini"}) {
        FFake->NavigationStarting(uri);
        EXPECT_EQ(last(), std::string("navigation cancelled ") + uri) << r.Name << chosen;
        FFake->FrameNavigation(uri);
        EXPECT_EQ(last(), std::string("frame navigation cancelled ") + uri) << r.Name << chosen;
      }
    }
    // Frames may show any site, and what the browser shows itself.
    for (const char* uri : {"https://elsewhere.test/ad", "about:blank", "data:text/html,x",
                            "blob:https://cloud.test/1", "javascript:void(0)"}) {
      FFake->FrameNavigation(uri);
      EXPECT_EQ(last(), std::string("frame goes to ") + uri) << r.Name;
    }
    FFake->ExternalLaunch("mailto:someone@cloud.test");
    EXPECT_EQ(last(), r.Redirect) << r.Name;
    FFake->SignIn();
    EXPECT_EQ(last(), r.SignIn) << r.Name;
    FFake->PdfViewer();
    EXPECT_EQ(last(), r.Pdf) << r.Name;
    FFake->ClientCertificate();
    EXPECT_EQ(last(), r.Certificate) << r.Name;
    FFake->SaveAs();
    EXPECT_EQ(last(), r.SaveAs) << r.Name;
    FFake->ScreenCapture();
    EXPECT_EQ(last(), r.Capture) << r.Name;
    EXPECT_NE(FFake->Log().find("put_IsBuiltInErrorPageEnabled=0"), std::string::npos) << r.Name;
    b.reset();
  }
}

TEST_F(WebView2Abi, ADeferralLeftOpenIsCompletedWhenTheRequestIsDropped) {
  auto b = MakeBrowser(FLoader);
  b->Create(Options());
  FFake->Pump();
  b->AddResourceFilter("*");
  b->SetResourceRequestedHandler([](std::shared_ptr<IResourceRequest> r) { r->Defer(); });
  FFake->Resource("https://cloud.test/x");
  std::string log = FFake->Log();
  EXPECT_NE(log.find("GetDeferral\nDeferral.Complete\nDeferral released\n"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("put_Response"), std::string::npos);
}

// The gateway cache may let go of a request on its fetch thread (the window closing drops the
// queued answer there), completing it on the way. The deferral is then completed and every
// WebView2 object released on the user-interface thread: while the queue runs, through it; once
// the queue is shut, when the browser goes; once the browser is gone, never (the runtime goes with
// the process).
TEST_F(WebView2Abi, ARequestLetGoOfOnAFetchThreadIsFinishedOnTheUiThread) {
  enum TWhen { wQueueRuns, wQueueShut, wBrowserGone };
  for (TWhen when : {wQueueRuns, wQueueShut, wBrowserGone}) {
    SCOPED_TRACE(when);
    FFake->Configure(0);
    auto b = MakeBrowser(FLoader);
    b->Create(Options());
    FFake->Pump();
    std::shared_ptr<IResourceRequest> held;
    b->AddResourceFilter("*");
    b->SetResourceRequestedHandler([&](std::shared_ptr<IResourceRequest> r) {
      ASSERT_TRUE(r->Defer());
      held = std::move(r);
    });
    FFake->Resource("https://cloud.test/assets/a.png");
    ASSERT_TRUE(held);
    if (when == wQueueShut) FQueue->Shutdown();
    if (when == wBrowserGone) b.reset();
    std::thread fetch([r = std::move(held)]() mutable {
      EXPECT_EQ(r->Uri(), ""); // no WebView2 call from here
      r->Complete();
      r.reset();
    });
    fetch.join();
    std::string log = FFake->Log();
    EXPECT_EQ(log.find("Deferral.Complete"), std::string::npos) << log;
    PumpMessages();
    b.reset();
    log = FFake->Log();
    if (when == wBrowserGone) {
      EXPECT_EQ(log.find("Deferral.Complete"), std::string::npos) << log; // left alone
      EXPECT_EQ(log.find("Deferral released"), std::string::npos) << log;
    } else {
      EXPECT_NE(log.find("Deferral.Complete\nDeferral released\n"), std::string::npos) << log;
      if (when == wQueueRuns) {
        EXPECT_LT(log.find("Deferral released"), log.find("Close")) << log;
      }
    }
    EXPECT_EQ(log.find("called off the UI thread"), std::string::npos) << log;
    if (when == wQueueShut) { // a fresh queue for the next round and TearDown
      FQueue = std::make_unique<TWinUiQueue>(FWindow);
      SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(FQueue.get()));
    }
  }
}

TEST_F(WebView2Abi, ARefusedNavigationIsReportedAsUnanswered) {
  auto b = MakeBrowser(FLoader);
  int completions = 0;
  TNavCompleted nav{true, 5, 200, 9};
  b->OnNavigationCompleted = [&](const TNavCompleted& n) {
    nav = n;
    ++completions;
  };
  b->Create(Options());
  FFake->Pump();
  b->Navigate("https://cloud.test/refused");
  EXPECT_EQ(completions, 0); // later, from the message loop
  PumpMessages();
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(nav.Success);
  EXPECT_EQ(nav.HttpStatus, 0);
}

// Navigate gives no id: the adapter learns each of its own from NavigationStarting and tells the
// window whose completion it is. The stand-in ends a navigation that another replaces with
// OPERATION_CANCELED, as the runtime does.
TEST_F(WebView2Abi, NavigationsAreMatchedToTheProgramsOwnById) {
  auto b = MakeBrowser(FLoader);
  std::vector<TNavCompleted> navs;
  b->OnNavigationCompleted = [&](const TNavCompleted& n) { navs.push_back(n); };
  b->Create(Options());
  FFake->Pump();
  auto ends = [&] {
    std::string out;
    for (const auto& n : navs)
      out += (n.Source == nsOwn        ? "own "
              : n.Source == nsReplaced ? "replaced "
                                       : "page ") +
             std::to_string(n.Success      ? 0
                            : n.HttpStatus ? n.HttpStatus
                                           : n.WebErrorStatus) +
             ";";
    navs.clear();
    return out;
  };
  const std::string a = "https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3";
  const std::string c = "https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=4";

  // One of ours, on its own.
  b->Navigate(a);
  FFake->Pump();
  FFake->Navigation(TRUE, 0, 200);
  EXPECT_EQ(ends(), "own 0;");
  // Another map chosen while the first loads: the first ends cancelled, and says nothing.
  b->Navigate(a);
  FFake->Pump();
  b->Navigate(c);
  FFake->Pump();
  EXPECT_EQ(ends(), "replaced 14;");
  FFake->Navigation(FALSE, 0, 0);
  EXPECT_EQ(ends(), "own 0;"); // the latest's own failure decides
  // Two calls before either has started.
  b->Navigate(a);
  b->Navigate(c);
  FFake->Pump();
  FFake->Navigation(TRUE, 0, 200);
  EXPECT_EQ(ends(), "replaced 14;own 0;");
  // The page's own navigation after ours has finished: the page's, whatever its outcome.
  FFake->PageNavigation("https://cloud.test/elsewhere");
  FFake->Pump();
  FFake->Navigation(FALSE, 0, 500);
  EXPECT_EQ(ends(), "page 500;");
  // The page redirects itself while ours still loads: ours ends cancelled, and the page's
  // navigation takes its place, so its outcome decides.
  b->Navigate(a);
  FFake->Pump();
  FFake->PageNavigation("https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3&v=2");
  FFake->Pump();
  EXPECT_EQ(ends(), "replaced 14;");
  FFake->Navigation(FALSE, 0, 502);
  EXPECT_EQ(ends(), "own 502;");
  // A refused call that a later one replaced before its report ran.
  b->Navigate("https://cloud.test/refused");
  b->Navigate(a);
  PumpMessages();
  FFake->Pump();
  FFake->Navigation(TRUE, 0, 200);
  EXPECT_EQ(ends(), "replaced 0;own 0;");
  // A new web view starts with nothing of the old one's ids.
  b->Create(Options());
  FFake->Pump();
  FFake->PageNavigation("https://cloud.test/x");
  FFake->Pump();
  FFake->Navigation(TRUE, 0, 200);
  EXPECT_EQ(ends(), "page 0;");
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The folder is still used by another copy's browser started with other options (the old copy
// during an update): ERROR_INVALID_STATE until that process has exited, then a new try works.
TEST_F(WebView2Abi, AFolderHeldByABrowserWithOtherOptionsIsRefusedUntilItExits) {
  FFake->ForeignBrowser("C:\\data\\hallBoard\\WebView2", "en-US|--old-switch");
  auto b = MakeBrowser(FLoader);
  b->Create(Options());
  FFake->Pump();
  PumpMessages();
  ASSERT_EQ(FCreated.size(), 1u);
  EXPECT_EQ(static_cast<uint32_t>(FCreated[0]), 0x8007139Fu);
  EXPECT_FALSE(b->HasWebView());
  FFake->EndForeignBrowsers();
  b->Create(Options());
  FFake->Pump();
  PumpMessages();
  ASSERT_EQ(FCreated.size(), 2u);
  EXPECT_EQ(FCreated[1], 0);
  EXPECT_TRUE(b->HasWebView());
}

// Re-creating while the old browser process runs: the controller is closed, the new environment
// is made only once the old process has said it exited.
TEST_F(WebView2Abi, RecreationWaitsForTheOldBrowserProcessToExit) {
  auto b = MakeBrowser(FLoader);
  b->Create(Options());
  FFake->Pump();
  ASSERT_EQ(FCreated, std::vector<int32_t>{0});
  b->Create(Options());
  std::string log = FFake->Log();
  EXPECT_EQ(Count(log, "CreateEnvironment"), 1u) << log;
  EXPECT_NE(log.find("Close"), std::string::npos);
  FFake->Pump(); // the old process exits, then the new environment and controller follow
  PumpMessages();
  FFake->Pump();
  log = FFake->Log();
  const size_t exited = log.find("BrowserProcessExited 0");
  ASSERT_NE(exited, std::string::npos) << log;
  EXPECT_NE(log.find("CreateEnvironment", exited), std::string::npos) << log;
  EXPECT_EQ(FCreated, (std::vector<int32_t>{0, 0}));
  EXPECT_TRUE(b->HasWebView());
}

// An exit event that never comes holds re-creation up for a bounded time only.
TEST_F(WebView2Abi, RecreationWaitsForTheOldBrowserOnlySoLong) {
  auto b = MakeBrowser(FLoader);
  b->Create(Options());
  FFake->Pump();
  b->Create(Options()); // the old process's exit stays queued: never pumped
  const DWORD start = GetTickCount();
  while (Count(FFake->Log(), "CreateEnvironment") < 2 && GetTickCount() - start < 20000) {
    PumpMessages();
    Sleep(20);
  }
  EXPECT_EQ(Count(FFake->Log(), "CreateEnvironment"), 2u);
  EXPECT_GE(GetTickCount() - start, kBrowserExitWaitMs - 100);
}

// The browser process crashes: the window hears of it, the environment refuses new controllers
// (ERROR_INVALID_STATE), and the next Create makes a new environment at once.
TEST_F(WebView2Abi, AfterTheBrowserProcessExitedANewEnvironmentIsMade) {
  auto b = MakeBrowser(FLoader);
  std::vector<int32_t> failed;
  b->OnProcessFailed = [&](int32_t kind) { failed.push_back(kind); };
  b->Create(Options());
  FFake->Pump();
  FFake->BrowserCrash();
  EXPECT_EQ(failed, std::vector<int32_t>{pfBrowserProcessExited});
  b->Create(Options());
  EXPECT_EQ(Count(FFake->Log(), "CreateEnvironment"), 2u); // no wait for a process that is gone
  FFake->Pump();
  PumpMessages();
  EXPECT_EQ(FCreated, (std::vector<int32_t>{0, 0}));
  EXPECT_TRUE(b->HasWebView());
}

// A newer runtime installed while the program runs: the window hears of it, and the browser made
// anew (after the old process has exited) runs the new version.
TEST_F(WebView2Abi, ANewRuntimeVersionIsReportedAndTakenByTheNextCreation) {
  auto b = MakeBrowser(FLoader);
  int told = 0;
  b->OnNewBrowserVersion = [&] { ++told; };
  b->Create(Options());
  FFake->Pump();
  EXPECT_EQ(b->BrowserVersion(), "120.0.2210.91");
  FFake->NewBrowserVersion("121.0.2277.83");
  EXPECT_EQ(told, 1);
  EXPECT_EQ(b->BrowserVersion(), "120.0.2210.91"); // the running browser keeps its version
  b->Create(Options());
  FFake->Pump();
  PumpMessages();
  FFake->Pump();
  EXPECT_EQ(FCreated, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(b->BrowserVersion(), "121.0.2277.83");
}

TEST_F(WebView2Abi, OlderRuntimesSkipMissingSettingsAndHttpStatus) {
  FFake->Configure(2 | 4);
  auto b = MakeBrowser(FLoader);
  TNavCompleted nav;
  b->OnNavigationCompleted = [&](const TNavCompleted& n) { nav = n; };
  b->Create(Options());
  FFake->Pump();
  // Without the second controller generation the background stays the runtime's own.
  EXPECT_EQ(FFake->Log().find("put_DefaultBackgroundColor"), std::string::npos);
  // Without the fourth generations nothing holds downloads or drops: the runtime's defaults
  // stay, and the adapter asks for no slot the runtime lacks.
  EXPECT_EQ(FFake->Log().find("add_DownloadStarting"), std::string::npos);
  FFake->Download("https://cloud.test/files/setup.exe");
  FFake->ExternalDrop("C:\\Users\\Public\\Desktop\\notes.html");
  EXPECT_NE(FFake->Log().find("download saved\nExternalDrop"), std::string::npos);
  EXPECT_NE(FFake->Log().find("drop opened in a new window"), std::string::npos);
  EXPECT_TRUE(b->SetSetting(TBrowserSetting::bsStatusBar, false));
  EXPECT_FALSE(b->SetSetting(TBrowserSetting::bsAcceleratorKeys, false));
  EXPECT_FALSE(b->SetSetting(TBrowserSetting::bsSwipeNavigation, false));
  FFake->Navigation(TRUE, 0, 200);
  EXPECT_TRUE(nav.Success);
  EXPECT_EQ(nav.HttpStatus, 0);
}

TEST_F(WebView2Abi, FailuresReachOnCreatedAsCodes) {
  struct {
    unsigned Flags;
    bool MissingDll;
    int32_t Want;
  } cases[] = {
      {0, true, static_cast<int32_t>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))},
      {1, false, static_cast<int32_t>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))},
      {8, false, static_cast<int32_t>(E_ACCESSDENIED)},
  };
  for (const auto& c : cases) {
    FFake->Configure(c.Flags);
    FCreated.clear();
    auto b = MakeBrowser(c.MissingDll ? L"C:\\nowhere\\WebView2Loader.dll" : FLoader);
    b->Create(Options());
    EXPECT_TRUE(FCreated.empty());
    FFake->Pump();
    PumpMessages();
    ASSERT_EQ(FCreated.size(), 1u) << c.Flags;
    EXPECT_EQ(FCreated[0], c.Want) << c.Flags;
    EXPECT_LT(FCreated[0], 0);
    // Only a loader that is not there is named; the runtime's own failures are not ours to name.
    EXPECT_EQ(b->MissingFile(), c.MissingDll ? "WebView2Loader.dll" : "") << c.Flags;
    EXPECT_FALSE(b->HasWebView());
    EXPECT_FALSE(b->SetSetting(TBrowserSetting::bsStatusBar, false));
  }
}

TEST_F(WebView2Abi, LateCompletionsOfAnOldCreationOrAGoneBrowserAreIgnored) {
  auto b = MakeBrowser(FLoader);
  b->Create(Options());
  b->Create(Options()); // again before the first finished (after the browser process died)
  FFake->Pump();
  EXPECT_EQ(FCreated, std::vector<int32_t>{0});
  auto gone = MakeBrowser(FLoader);
  gone->Create(Options());
  gone.reset();
  FFake->Pump(); // the completion finds the adapter gone and does nothing
  EXPECT_EQ(FCreated, std::vector<int32_t>{0});
}

} // namespace
} // namespace hb::win
