// The program's WebView2 adapter against Microsoft's own WebView2Loader.dll (copied beside this
// test from the SDK package), on a machine without the WebView2 runtime: what the loader asks of
// the program's environment options object, and the failure it reports.
#include <gtest/gtest.h>

#include <windows.h>

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

} // namespace
} // namespace hb::win
