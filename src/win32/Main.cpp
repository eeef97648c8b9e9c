// hallBoard.exe: the entry. Decides between "--write-ini" and a normal start, keeps one instance
// per logon, writes the start line, installs the exception logger and runs the display window.
#include <windows.h>
// after windows.h
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AppIdentity.h"
#include "BCryptHasher.h"
#include "CrashRestart.h"
#include "GdiCanvas.h"
#include "MainWindow.h"
#include "Platform.h"
#include "ShellDialogWindow.h"
#include "SingleInstance.h"
#include "UiGuard.h"
#include "WebView2Browser.h"
#include "Win32System.h"
#include "WinHttpClient.h"
#include "WinText.h"
#include "display/uHallBoardMain.h"
#include "settings/Settings.h"
#include "shell/DiagnosticLog.h"
#include "shell/ExceptionLogger.h"
#include "shell/GatewayCache.h"
#include "shell/TestTimers.h"
#include "update/uHallBoardUpdate.h"

using namespace hb;
using namespace hb::win;

namespace {

std::vector<std::string> Arguments() {
  std::vector<std::string> out;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return out;
  for (int i = 1; i < argc; ++i) out.push_back(Utf8(argv[i], wcslen(argv[i])));
  LocalFree(argv);
  return out;
}

std::string StartLine(const std::string& exeFolder) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " (%lld) ", static_cast<long long>(kAppVersionCode));
  return std::string("STARTED 机位图 ") + kAppVersion + buf + "目录 " + exeFolder;
}

// The main window, the browser in it and the display form over both, taken down in the reverse
// order once the message loop ends: form, browser, window.
void RunDisplay(ISystem& system) {
  UINT wake = ShowMainMessage(kSingleInstanceId);
  TMainWindow window(kAppTitle, wake);
  if (!window.Valid()) return;
  HWND hwnd = window.Handle();
  // Exceptions caught in WebView2's callbacks are reported from the queue, outside them.
  SetUiReportQueue(&window.Queue());
  auto browser = std::make_unique<TWebView2Browser>(
      hwnd, window.Queue(), Wide(system.ExeFolder()) + L"WebView2Loader.dll");
  TFormPorts ports{window,
                   *browser,
                   window.Queue(),
                   [hwnd] { return std::make_unique<TWinTimer>(hwnd); },
                   [] { return std::make_unique<TWinHttpClient>(); },
                   system};
  // One measuring canvas per menu, at the DPI of the monitor the menu opens on; its fonts are
  // made once, so a long map list is measured in one pass.
  ports.NewMeasureCanvas = [](int dpi) -> std::unique_ptr<ICanvas> {
    return std::make_unique<TGdiCanvas>(nullptr, dpi);
  };
  ports.ShowMsg = wake;
  auto form = std::make_unique<THallBoardForm>(ports);
  THallBoardForm* f = form.get();
  window.Events.FirstShow = [f] { f->FirstShow(); };
  window.Events.PaintCover = [f](ICanvas& c) { f->PaintCover(c); };
  window.Events.CoverResized = [f](TSize s) { f->CoverSize(s); };
  window.Events.CoverRightUp = [f](int, int) { f->CoverRightButtonUp(); };
  window.Events.WakeUp = [f] { f->WakeUp(); };
  window.Events.CloseRequested = [f] { f->Close(); };
  TWebView2Browser* b = browser.get();
  window.Events.ClientResized = [b] { b->FitToParent(); };
  window.Events.Moved = [b] { b->ParentMoved(); };
  window.Events.DisplayChanged = [f] { f->DisplayChanged(); };
  // The browser's window appears above the cover's unless the cover is raised again.
  b->OnWindowCreated = [&window] { window.RaiseCover(); };
  window.Run();
  // Fetch threads still running must not reach the queue or the form once they are gone.
  StopGatewayCache();
  window.Events = {};
  form.reset();
  browser.reset();
  SetUiReportQueue(nullptr);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static TWin32System system;
  static TBCryptHasher hasher;
  InstallPlatform(&system, &hasher);
  std::vector<std::string> args = Arguments();

  // The maintenance command: only the first argument counts, and nothing else happens.
  if (!args.empty() && args[0] == "--write-ini") {
    WriteDefaultIni(args.size() > 1 ? args[1] : std::string());
    return 0;
  }

  SetAppFolder(kAppFolder);
  if (!EnsureSingleInstance(kSingleInstanceId, 0)) return 0;
  WriteLog(StartLine(system.ExeFolder()));
  // An installation that a power cut or a kill interrupted is finished or reversed before the
  // display shows anything; only this instance may touch the program folder. A start while an
  // installer is at work ends here: the installer opens the program itself.
  if (!SettleInstallAtStart(system.ExeFolder())) return 0;
  SetEnvironmentVariableW(L"HALLBOARD_INSTALLER", nullptr);
#if HB_TEST_TIMERS
  // The shortened waits of the test runs (the Windows smoke runs, bench/soak.sh on Linux); a
  // release build has neither this nor a way to shorten anything. Said in the log so that nobody
  // mistakes such a run for a real one.
  if (const wchar_t* text = _wgetenv(L"HALLBOARD_TEST_TIME_DIVISOR"); text && *text) {
    wchar_t* end = nullptr;
    unsigned long divisor = std::wcstoul(text, &end, 10);
    if (*end == L'\0' && divisor > 1 && divisor <= 1000) {
      SetTestTimeDivisor(static_cast<uint32_t>(divisor));
      WriteLog("TEST_TIMERS 等待时间缩短为 1/" + std::to_string(divisor) + "（仅供测试）");
    }
  }
#endif
  // Only the instance that runs the display registers: a second copy that merely woke the first
  // must not be started again.
  if (FAILED(RegisterCrashRestart())) WriteLog("无法登记崩溃后自动重启");
  InstallExceptionLogger(kAppFolder, kExceptionCode, kExceptionFriendlyText, ShowShellDialogWindow);
  SetUiExceptionHandler([](const std::exception& e) { HandleException(e); });

  // The browser's COM objects live in this thread's single-threaded apartment.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RunDisplay(system);
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
