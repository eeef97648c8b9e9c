// The program's WebView2 adapter against Microsoft's own WebView2Loader.dll (copied beside this
// test from the SDK package), on a machine without the WebView2 runtime: what the loader asks of
// the program's environment options object, and the failure it reports.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "WebView2Browser.h"
#include "Win32System.h"
#include "WinText.h"
#include "WinUiQueue.h"

namespace hb::win {
namespace {

std::mutex gTraceLock;
std::vector<std::string> gTrace;
void Record(const char* call) {
  std::lock_guard<std::mutex> lock(gTraceLock);
  gTrace.push_back(call);
}

LRESULT CALLBACK HostProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  auto* q = reinterpret_cast<TWinUiQueue*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (q && q->HandleMessage(m, wp, lp)) return 0;
  return DefWindowProcW(h, m, wp, lp);
}

TEST(OfficialLoader, NoRuntimeIsReportedThroughOnCreatedWithTheLoadersCode) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"HbOfficialHost";
  RegisterClassW(&wc);
  HWND window = CreateWindowW(L"HbOfficialHost", L"host", WS_POPUP, 0, 0, 640, 480, nullptr,
                              nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  TWinUiQueue queue(window);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&queue));

  std::string folder = TWin32System().ExeFolder();
  std::wstring loader = Wide(folder) + L"WebView2Loader.dll";
  ASSERT_NE(GetFileAttributesW(loader.c_str()), INVALID_FILE_ATTRIBUTES) << "SDK loader not copied";
  SetEnvironmentOptionsTrace(Record);
  std::vector<int32_t> created;
  {
    TWebView2Browser browser(window, queue, loader);
    browser.OnCreated = [&](int32_t hr) { created.push_back(hr); };
    TBrowserOptions options{Utf8(_wgetenv(L"TEMP") ? _wgetenv(L"TEMP") : L"C:\\") +
                                "\\hallBoard-official\\WebView2",
                            "zh-CN", "--disable-background-timer-throttling"};
    browser.Create(options);
    // The answer comes through the message loop; the deadline only ends a hung loader.
    ULONGLONG end = GetTickCount64() + 120000;
    while (created.empty() && GetTickCount64() < end) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT);
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    EXPECT_EQ(browser.MissingFile(), ""); // the loader is there: the runtime is what is missing
  }
  SetEnvironmentOptionsTrace(nullptr);
  queue.Shutdown();
  DestroyWindow(window);

  ASSERT_EQ(created.size(), 1u) << "no creation outcome from the official loader";
  int32_t code = created[0];
  EXPECT_LT(code, 0);
  EXPECT_NE(static_cast<uint32_t>(code), 0x8007007Eu);
  {
    // The loader may read our options and ask what else they offer; it must not change them,
    // and it calls them from the thread that asked for the environment.
    std::lock_guard<std::mutex> lock(gTraceLock);
    for (const std::string& call : gTrace) {
      EXPECT_NE(call.rfind("put_", 0), 0u) << call;
      EXPECT_EQ(call.find("another thread"), std::string::npos) << call;
    }
  }
  // What tests/windows/run reports and the smoke run of hallBoard.exe compares with.
  std::ofstream out(folder + "official-loader.txt", std::ios::binary);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<uint32_t>(code));
  out << "code " << hex << "\n";
  std::lock_guard<std::mutex> lock(gTraceLock);
  for (const std::string& call : gTrace) out << "options " << call << "\n";
  std::printf("official loader: HRESULT %s, %zu calls on the options object\n", hex, gTrace.size());
  for (const std::string& call : gTrace) std::printf("  %s\n", call.c_str());
}

// Microsoft's loader pointed at the stand-in runtime through its browser-folder override: the
// adapter's creation, settings, scripts, a navigation, a web message and an intercepted resource
// all pass through the official loader's entry.
TEST(OfficialLoader, ThroughTheBrowserFolderOverrideToTheStandInRuntime) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"HbOfficialHost2";
  RegisterClassW(&wc);
  HWND window = CreateWindowW(L"HbOfficialHost2", L"host", WS_POPUP, 0, 0, 640, 480, nullptr,
                              nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  TWinUiQueue queue(window);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&queue));
  std::wstring folder = Wide(TWin32System().ExeFolder());
  ASSERT_TRUE(SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER",
                                      (folder + L"runtime").c_str()));
  std::vector<int32_t> created;
  std::vector<std::string> messages;
  TNavCompleted nav;
  std::string log;
  {
    TWebView2Browser browser(window, queue, folder + L"WebView2Loader.dll");
    browser.OnCreated = [&](int32_t hr) { created.push_back(hr); };
    browser.OnNavigationCompleted = [&](const TNavCompleted& n) { nav = n; };
    browser.OnWebMessage = [&](const std::string& json) { messages.push_back(json); };
    browser.Create({"C:\\data\\hallBoard\\WebView2", "zh-CN", "--autoplay-policy=x"});
    HMODULE runtime = nullptr;
    auto fake = [&](const char* name) {
      return reinterpret_cast<void*>(GetProcAddress(runtime, name));
    };
    ULONGLONG end = GetTickCount64() + 120000;
    while (created.empty() && GetTickCount64() < end) {
      if (!runtime) runtime = GetModuleHandleW(L"EmbeddedBrowserWebView.dll");
      if (runtime) reinterpret_cast<void (*)()>(fake("HbFakePump"))();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    ASSERT_NE(runtime, nullptr) << "the loader did not load the stand-in runtime";
    ASSERT_EQ(created, std::vector<int32_t>{0});
    EXPECT_TRUE(browser.SetSetting(TBrowserSetting::bsStatusBar, false));
    EXPECT_TRUE(browser.SetSetting(TBrowserSetting::bsSwipeNavigation, false));
    browser.AddScriptOnDocumentCreated("window.__hbHideCursor=true;");
    browser.Navigate("https://cloud.test/seatmap/display?NetBarId=7&embed=1&m=3");
    reinterpret_cast<void (*)()>(fake("HbFakePump"))();
    reinterpret_cast<void (*)(BOOL, int, int)>(fake("HbFakeNavigation"))(TRUE, 0, 200);
    reinterpret_cast<void (*)(const char*)>(fake("HbFakeWebMessage"))("\"menu\"");
    std::shared_ptr<IResourceRequest> held;
    ASSERT_TRUE(browser.AddResourceFilter("*/assets/*"));
    ASSERT_TRUE(browser.SetResourceRequestedHandler([&](std::shared_ptr<IResourceRequest> r) {
      ASSERT_TRUE(r->Defer());
      held = std::move(r);
    }));
    reinterpret_cast<void (*)(const char*)>(fake("HbFakeResourceRequest"))(
        "https://cloud.test/assets/a.png");
    ASSERT_TRUE(held);
    EXPECT_TRUE(held->SetResponse(200, "OK", "Content-Type: image/png", "PNG"));
    held.reset();
    auto logText = reinterpret_cast<int (*)(char*, int)>(fake("HbFakeLog"));
    log.resize(static_cast<size_t>(logText(nullptr, 0)));
    logText(log.data(), static_cast<int>(log.size()));
  }
  SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr);
  queue.Shutdown();
  DestroyWindow(window);
  EXPECT_TRUE(nav.Success);
  EXPECT_EQ(nav.HttpStatus, 200);
  EXPECT_EQ(messages, std::vector<std::string>{"\"menu\""});
  for (const char* step :
       {"CreateEnvironment browser=(null) data=C:\\data\\hallBoard\\WebView2 lang=zh-CN",
        "put_IsStatusBarEnabled=0", "put_IsSwipeNavigationEnabled=0", "AddScript window.",
        "Navigate https://cloud.test/", "add_WebResourceRequested", "GetDeferral",
        "CreateResponse 200 OK [Content-Type: image/png] PNG", "put_Response", "Deferral.Complete"})
    EXPECT_NE(log.find(step), std::string::npos) << step << "\n" << log;
  for (const char* bad : {"QueryInterface failed", "unexpected call", "called off the UI thread"})
    EXPECT_EQ(log.find(bad), std::string::npos) << log;
  std::printf("through Microsoft's loader to the stand-in runtime: %zu runtime calls\n",
              static_cast<size_t>(std::count(log.begin(), log.end(), '\n')));
}

} // namespace
} // namespace hb::win
