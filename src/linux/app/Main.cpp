// hallBoard on Linux: the entry. Decides between "--write-ini" and a normal start, keeps one
// instance per user session, writes the start line, installs the exception logger and runs the
// display window with Chromium as its browser.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "AppIdentity.h"
#include "CurlHttpClient.h"
#include "KeepAwake.h"
#include "LinuxSystem.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "RunDisplay.h"
#include "settings/Settings.h"
#include "shell/DiagnosticLog.h"
#include "shell/TestTimers.h"
#include "update/uHallBoardUpdate.h"

using namespace hb;

namespace {

std::string StartLine(const std::string& exeFolder) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " (%lld) ", static_cast<long long>(kAppVersionCode));
  return std::string("STARTED 机位图 ") + kAppVersion + buf + "目录 " + exeFolder;
}

} // namespace

int main(int argc, char** argv) {
  static TLinuxSystem system;
  system.OnKeepAwake = lin::SetKeepAwake;
  static TOpenSslHasher hasher;
  InstallPlatform(&system, &hasher);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);

  // The maintenance command: only the first argument counts, and nothing else happens.
  if (!args.empty() && args[0] == "--write-ini") {
    WriteDefaultIni(args.size() > 1 ? args[1] : std::string());
    return 0;
  }

  SetAppFolder(kAppFolder);
  lin::TSingleInstance instance;
  if (!instance.Acquire(lin::RuntimeFolder())) return 0;
  WriteLog(StartLine(system.ExeFolder()));
  // An installation that a power cut or a kill interrupted is finished or reversed before the
  // display shows anything; only this instance may touch the program folder. A start while an
  // installer is at work ends here: the installer opens the program itself.
  if (!SettleInstallAtStart(system.ExeFolder())) return 0;
  unsetenv(kInstallerChildVariable);
#if HB_TEST_TIMERS
  // The soak run's shortened waits (bench/soak.sh) and the end-to-end tests' shortened page loads;
  // a release build has neither these nor a way to shorten anything. Said in the log so that
  // nobody mistakes such a run for a real one.
  const auto divisorFrom = [](const char* name) -> uint32_t {
    const char* text = g_getenv(name);
    if (!text || !*text) return 1;
    char* end = nullptr;
    unsigned long divisor = std::strtoul(text, &end, 10);
    return *end == '\0' && divisor > 1 && divisor <= 1000 ? static_cast<uint32_t>(divisor) : 1;
  };
  if (uint32_t divisor = divisorFrom("HALLBOARD_TEST_TIME_DIVISOR"); divisor > 1) {
    SetTestTimeDivisor(divisor);
    WriteLog("TEST_TIMERS 等待时间缩短为 1/" + std::to_string(divisor) + "（仅供测试）");
  }
  if (uint32_t divisor = divisorFrom("HALLBOARD_TEST_LOAD_DIVISOR"); divisor > 1) {
    SetTestLoadDivisor(divisor);
    WriteLog("TEST_TIMERS 页面加载的等待缩短为 1/" + std::to_string(divisor) + "（仅供测试）");
  }
#endif
  return lin::RunDisplay(system, instance, argc, argv);
}
