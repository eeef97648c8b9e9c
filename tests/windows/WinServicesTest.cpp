#include <gtest/gtest.h>

#include <windows.h>
// after windows.h
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <thread>

#include "BCryptHasher.h"
#include "CrashRestart.h"
#include "Platform.h"
#include "SingleInstance.h"
#include "UiGuard.h"
#include "Win32System.h"
#include "WinText.h"
#include "WinUiQueue.h"
#include "shell/DiagnosticLog.h"

namespace hb::win {
namespace {

std::string Hex(const std::vector<uint8_t>& d) {
  static const char* k = "0123456789abcdef";
  std::string s;
  for (uint8_t b : d) s += {k[b >> 4], k[b & 15]};
  return s;
}

// FIPS 180-4 / NIST example values.
TEST(SingleInstance, HowTheMutexAnswerIsRead) {
  struct {
    bool GotHandle;
    DWORD Error;
    bool Another;
  } cases[] = {
      {true, ERROR_SUCCESS, false},         // a new mutex: we are the first
      {true, ERROR_ALREADY_EXISTS, true},   // opened the running instance's mutex
      {false, ERROR_ACCESS_DENIED, true},   // an elevated instance's mutex, closed to us
      {false, ERROR_INVALID_HANDLE, false}, // no mutex at all: run unprotected
      {false, ERROR_NOT_ENOUGH_MEMORY, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AnotherInstanceHolds(c.GotHandle, c.Error), c.Another) << c.Error;
}

// The first instance's mutex carries a security that lets nobody else open it, as one made by
// an elevated process does for an ordinary one: the second start still counts as a second.
TEST(SingleInstance, AMutexClosedToUsMeansAnotherInstanceRuns) {
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ACL acl;
  ASSERT_TRUE(InitializeAcl(&acl, sizeof acl, ACL_REVISION)); // empty: grants nothing
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE));
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  std::string id = "HbDenied" + std::to_string(GetCurrentProcessId());
  std::wstring name = Wide("Local\\QV." + id + ".SingleInstance");
  HANDLE first = CreateMutexW(&sa, TRUE, name.c_str());
  ASSERT_NE(first, nullptr);
  HANDLE probe = CreateMutexW(nullptr, TRUE, name.c_str());
  DWORD err = GetLastError();
  if (probe) CloseHandle(probe);
  if (probe || err != ERROR_ACCESS_DENIED) {
    CloseHandle(first);
    GTEST_SKIP() << "this system lets the creator open its own closed mutex (error " << err << ")";
  }
  EXPECT_FALSE(EnsureSingleInstance(id, 0));
  CloseHandle(first);
}

TEST(BCryptHasher, KnownAnswers) {
  TBCryptHasher h;
  struct {
    THashAlg Alg;
    std::string Input;
    std::string Want;
  } cases[] = {
      {THashAlg::haSha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {THashAlg::haSha256, "abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {THashAlg::haSha512, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
  };
  for (const auto& c : cases) {
    auto ctx = h.Start(c.Alg);
    ctx->Feed(c.Input.data(), c.Input.size());
    EXPECT_EQ(Hex(ctx->Finish()), c.Want) << c.Input;
  }
}

TEST(BCryptHasher, StreamingEqualsOneShot) {
  // One million 'a', fed in uneven pieces.
  TBCryptHasher h;
  auto ctx = h.Start(THashAlg::haSha256);
  std::string chunk(9973, 'a');
  size_t left = 1000000;
  while (left > 0) {
    size_t n = std::min(left, chunk.size());
    ctx->Feed(chunk.data(), n);
    left -= n;
  }
  EXPECT_EQ(Hex(ctx->Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

std::wstring MakeFolder(const std::wstring& name) {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  std::wstring path = std::wstring(base) + name;
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

TEST(Win32System, TempAndAppDataFoldersKeepBlanksAndChinese) {
  TWin32System sys;
  std::wstring folder = MakeFolder(L"机位图 临时");
  wchar_t oldTmp[MAX_PATH] = {}, oldTemp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
  std::string got = sys.TempFolder();
  SetEnvironmentVariableW(L"TMP", oldTmp);
  SetEnvironmentVariableW(L"TEMP", oldTemp);
  EXPECT_EQ(got, Utf8(folder) + "\\");

  SetEnvironmentVariableW(L"LOCALAPPDATA", L"C:\\用户 数据\\Local");
  EXPECT_EQ(sys.LocalAppData(), "C:\\用户 数据\\Local");
  // Missing or relative: the shell's folder for this user, absolute, never a relative path that
  // the browser and the program would resolve against different folders.
  wchar_t shell[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(
      SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shell)));
  for (const wchar_t* value :
       {static_cast<const wchar_t*>(nullptr), L"", L"hallBoard-data", L".\\Local"}) {
    SetEnvironmentVariableW(L"LOCALAPPDATA", value);
    const std::string got = sys.LocalAppData();
    EXPECT_EQ(got, Utf8(shell)) << (value ? Utf8(value) : "(unset)");
    EXPECT_FALSE(PathIsRelativeW(Wide(got).c_str())) << got;
  }
  SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
}

TEST(Win32System, AFileIsLockedElsewhereOnlyWhileOpenedWithoutSharing) {
  // The installer holds its lock file as PowerShell's FileShare.None opens it: no sharing at
  // all. An open that shares is anybody's and locks nothing.
  TWin32System sys;
  const std::wstring folder = MakeFolder(L"机位图 [锁]");
  const std::wstring file = folder + L"\\installer.lock";
  EXPECT_FALSE(sys.FileLockedElsewhere(Utf8(file))) << "a missing file";
  struct TCase {
    DWORD Share;
    bool Held;
  };
  for (const TCase& c : {TCase{0, true}, TCase{FILE_SHARE_READ | FILE_SHARE_WRITE, false},
                         TCase{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false}}) {
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, c.Share, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sys.FileLockedElsewhere(Utf8(file)), c.Held) << "sharing " << c.Share;
    CloseHandle(h);
    EXPECT_FALSE(sys.FileLockedElsewhere(Utf8(file))) << "sharing " << c.Share << ", closed";
  }
  DeleteFileW(file.c_str());
}

// Run by ExeFolderOfACopyInAChineseFolder in a copy of this program: writes ExeFolder() to the
// file named by HB_EXE_FOLDER_OUT.
TEST(Win32System, DISABLED_WriteExeFolder) {
  wchar_t out[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableW(L"HB_EXE_FOLDER_OUT", out, MAX_PATH), 0u);
  std::string folder = TWin32System().ExeFolder();
  HANDLE f = CreateFileW(out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, folder.data(), static_cast<DWORD>(folder.size()), &written, nullptr);
  CloseHandle(f);
}

// Runs a copy of this program with one (disabled) test of its own; its exit code.
DWORD RunCopy(const std::wstring& copy, const std::wstring& test) {
  std::wstring cmd =
      L"\"" + copy + L"\" --gtest_filter=" + test + L" --gtest_also_run_disabled_tests";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES; // the copy's own test report stays out of ours
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return static_cast<DWORD>(-1);
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

std::string ReadWhole(const std::wstring& path) {
  HANDLE f =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string out(1 << 16, '\0');
  DWORD read = 0;
  ReadFile(f, out.data(), static_cast<DWORD>(out.size()), &read, nullptr);
  CloseHandle(f);
  out.resize(read);
  return out;
}

TEST(Win32System, ExeFolderOfACopyInAChineseFolder) {
  std::wstring folder = MakeFolder(L"门店 程序");
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring copy = folder + L"\\copy of tests.exe";
  ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
  std::wstring out = folder + L"\\exe-folder.txt";
  SetEnvironmentVariableW(L"HB_EXE_FOLDER_OUT", out.c_str());
  ASSERT_EQ(RunCopy(copy, L"Win32System.DISABLED_WriteExeFolder"), 0u);
  EXPECT_EQ(ReadWhole(out), Utf8(folder) + "\\");
}

TEST(DiagnosticLog, DISABLED_WriteOneLine) {
  static TWin32System sys;
  static TBCryptHasher hasher;
  InstallPlatform(&sys, &hasher);
  SetAppFolder("hallBoard");
  WriteLog("日志 行 from the copy");
}

TEST(DiagnosticLog, LogGoesBesideAProgramInAChineseFolder) {
  std::wstring folder = MakeFolder(L"日志 测试 目录");
  std::wstring logs = folder + L"\\logs";
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring copy = folder + L"\\tests copy.exe";
  ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
  ASSERT_EQ(RunCopy(copy, L"DiagnosticLog.DISABLED_WriteOneLine"), 0u);
  SYSTEMTIME t;
  GetLocalTime(&t);
  wchar_t name[32];
  swprintf(name, 32, L"\\%04d%02d%02d.log", t.wYear, t.wMonth, t.wDay);
  std::string text = ReadWhole(logs + name);
  EXPECT_NE(text.find(" 日志 行 from the copy\r\n"), std::string::npos) << text;
  EXPECT_EQ(text[2], ':'); // "hh:nn:ss text"
}

TEST(Win32System, ClocksAndIdentity) {
  TWin32System sys;
  int64_t now = static_cast<int64_t>(std::time(nullptr)) * 1000;
  EXPECT_LT(std::llabs(sys.UtcNowUnixMs() - now), 5000);
  TLocalTime t = sys.LocalNow();
  EXPECT_GE(t.Year, 2024);
  EXPECT_TRUE(t.Month >= 1 && t.Month <= 12 && t.Day >= 1 && t.Day <= 31);
  // Wine's tick count comes from a page the wine server refreshes; on a loaded machine that
  // refresh can lag, so wait for the tick to move on (bounded) instead of after one fixed sleep.
  uint64_t a = sys.TickCount64();
  uint64_t b = a;
  for (int i = 0; i < 500 && b < a + 10; ++i) {
    Sleep(20);
    b = sys.TickCount64();
  }
  EXPECT_GE(b, a + 10);
  EXPECT_EQ(sys.ProcessId(), GetCurrentProcessId());
  std::regex guid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
  std::string g1 = sys.NewGuid(), g2 = sys.NewGuid();
  EXPECT_TRUE(std::regex_match(g1, guid)) << g1;
  EXPECT_NE(g1, g2);
}

TEST(Win32System, FileNameKeyFoldsCaseInEveryAlphabet) {
  TWin32System sys;
  struct {
    const char* A;
    const char* B;
    bool Same;
  } cases[] = {
      {"hallBoard.INI", "HALLBOARD.ini", true},
      {"Ärger.txt", "äRGER.TXT", true},
      {"σοφία", "ΣΟΦΊΑ", true},
      {"Привет", "пРИВЕТ", true},
      {"机位图.exe", "机位图.EXE", true},
      {"a.txt", "b.txt", false},
      {"straße", "STRASSE", false},
      {"", "", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sys.FileNameKey(c.A) == sys.FileNameKey(c.B), c.Same) << c.A << " / " << c.B;
}

TEST(Win32System, DecodeGbkMarksBadBytes) {
  TWin32System sys;
  struct {
    std::string In;
    std::string Want;
  } cases[] = {
      {"\xC4\xE3\xBA\xC3", "你好"},
      {"abc \xBB\xFA\xCE\xBB\xCD\xBC", "abc 机位图"},
      {"\xFF"
       "a",
       "\xEF\xBF\xBD"
       "a"},
      {"ok\xC4", "ok\xEF\xBF\xBD"}, // a lead byte cut off at the end
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(sys.DecodeGbk(c.In), c.Want);
}

TEST(Win32System, InstallerParametersQuoteThePath) {
  EXPECT_EQ(
      InstallerParameters(L"C:\\Users\\O'Brien\\AppData\\Local\\Temp\\HallBoard-install-x.ps1"),
      L"-NoProfile -ExecutionPolicy Bypass -File "
      L"\"C:\\Users\\O'Brien\\AppData\\Local\\Temp\\HallBoard-install-x.ps1\"");
}

// Windows PowerShell is started from the system folder itself, never looked up along the path.
TEST(Win32System, PowerShellComesFromTheSystemFolder) {
  wchar_t dir[MAX_PATH];
  UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::wstring want(dir, n);
  if (want.back() != L'\\') want += L'\\';
  EXPECT_EQ(WindowsPowerShellPath(), want + L"WindowsPowerShell\\v1.0\\powershell.exe");
}

// A message-only window of the test thread to carry queued procedures and timers.
struct TTestWindow {
  HWND Hwnd;
  TWinUiQueue* Queue = nullptr;
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TTestWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (self && self->Queue && self->Queue->HandleMessage(m, wp, lp)) return 0;
    if (m == WM_TIMER && TWinTimer::HandleTimer(wp)) return 0;
    return DefWindowProcW(h, m, wp, lp);
  }
  TTestWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HbTestWindow";
    RegisterClassW(&wc);
    Hwnd = CreateWindowW(L"HbTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                         nullptr);
    SetWindowLongPtrW(Hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~TTestWindow() { DestroyWindow(Hwnd); }
  template <class Pred> bool PumpUntil(Pred done, DWORD ms = 5000) {
    DWORD start = GetTickCount();
    MSG msg;
    while (!done()) {
      if (GetTickCount() - start > ms) return false;
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
      else
        Sleep(1);
    }
    return true;
  }
};

TEST(WinUiQueue, RunsPostsFromAnyThreadInOrderOnTheWindowThread) {
  TTestWindow w;
  TWinUiQueue q(w.Hwnd);
  w.Queue = &q;
  std::vector<int> seen;
  DWORD ui = GetCurrentThreadId();
  bool elsewhere = false;
  std::thread t([&] {
    for (int i = 0; i < 50; ++i)
      q.Post([&, i] {
        seen.push_back(i);
        elsewhere |= GetCurrentThreadId() != ui;
      });
  });
  t.join();
  EXPECT_TRUE(seen.empty()); // never inside Post
  ASSERT_TRUE(w.PumpUntil([&] { return seen.size() == 50; }));
  EXPECT_FALSE(elsewhere);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
}

TEST(WinUiQueue, ShutdownDropsAndFreesQueuedProcedures) {
  TTestWindow w;
  TWinUiQueue q(w.Hwnd);
  w.Queue = &q;
  auto token = std::make_shared<int>(0);
  bool ran = false;
  q.Post([token, &ran] { ran = true; });
  EXPECT_EQ(token.use_count(), 2);
  q.Shutdown();
  EXPECT_EQ(token.use_count(), 1); // freed with the message
  q.Post([token, &ran] { ran = true; });
  EXPECT_EQ(token.use_count(), 1); // dropped at once
  w.PumpUntil([] { return false; }, 50);
  EXPECT_FALSE(ran);
}

TEST(WinUiQueue, ExceptionsGoToTheHandlerAndTheLoopGoesOn) {
  TTestWindow w;
  TWinUiQueue q(w.Hwnd);
  w.Queue = &q;
  std::string caught;
  SetUiExceptionHandler([&](const std::exception& e) { caught = e.what(); });
  bool after = false;
  q.Post([] { throw std::runtime_error("坏了"); });
  q.Post([&] { after = true; });
  ASSERT_TRUE(w.PumpUntil([&] { return after; }));
  EXPECT_EQ(caught, "坏了");
  SetUiExceptionHandler(nullptr);
}

TEST(WinTimer, TicksWhileEnabledKeepsPhaseAndStops) {
  TTestWindow w;
  auto timer = std::make_unique<TWinTimer>(w.Hwnd);
  timer->SetInterval(20);
  EXPECT_EQ(timer->Interval(), 20u);
  int ticks = 0;
  timer->OnTick = [&] { ++ticks; };
  timer->SetEnabled(true);
  timer->SetEnabled(true);
  EXPECT_TRUE(timer->Enabled());
  ASSERT_TRUE(w.PumpUntil([&] { return ticks >= 3; }));
  timer->SetEnabled(false);
  int stopped = ticks;
  w.PumpUntil([] { return false; }, 100);
  EXPECT_EQ(ticks, stopped);
  // A timer that destroys itself from its own tick.
  timer->OnTick = [&] {
    ++ticks;
    timer.reset();
  };
  timer->SetEnabled(true);
  ASSERT_TRUE(w.PumpUntil([&] { return !timer; }));
  w.PumpUntil([] { return false; }, 100);
  EXPECT_EQ(ticks, stopped + 1);
}

// The registration for a restart after a crash or hang: no arguments (the restarted program
// starts as normal) and no flag that would exclude a case; and the system's own function is found
// and accepts it.
struct TRestartCall {
  int Calls = 0;
  std::wstring CommandLine;
  DWORD Flags = 0xFFFFFFFF;
};
TRestartCall gRestartCall;

HRESULT WINAPI RecordRestart(PCWSTR commandLine, DWORD flags) {
  ++gRestartCall.Calls;
  gRestartCall.CommandLine = commandLine ? commandLine : L"(null)";
  gRestartCall.Flags = flags;
  return S_OK;
}

TEST(CrashRestart, RegistersForEveryKindOfRestartWithoutArguments) {
  gRestartCall = {};
  EXPECT_EQ(RegisterCrashRestart(&RecordRestart), S_OK);
  EXPECT_EQ(gRestartCall.Calls, 1);
  EXPECT_EQ(gRestartCall.CommandLine, L"");
  EXPECT_EQ(gRestartCall.Flags, 0u);
  // The system's own registration, looked up at run time as the program does.
  EXPECT_EQ(RegisterCrashRestart(), S_OK);
}

} // namespace
} // namespace hb::win
