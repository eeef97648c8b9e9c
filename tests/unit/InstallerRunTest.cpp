// Both installer scripts run for real against throw-away folders: the sh one under /bin/sh and
// the PowerShell one under a real PowerShell (pwsh, from the ground-truth tools). Every case runs
// under both, with folder names that need quoting (', ’, blanks, Chinese). The program is a
// stand-in script that records each start with its working folder and then keeps running, as
// the real program does, until the test ends it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "InstallerTestKit.h"
#include "shell/DiagnosticLog.h"
#include "update/uHallBoardUpdate.h"

namespace hb {
namespace {

class InstallerRun : public ::testing::TestWithParam<TShell> {
 protected:
  void SetUp() override {
    HB_SKIP_WITHOUT_PWSH(GetParam());
    char tmpl[] = "/tmp/hb-installer-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FRoot = tmpl;
    FDst = FRoot / "program o'neil 机位图";
    FTemp = FRoot / "temp \xE2\x80\x99x";
    FSrc = FTemp / "HallBoard-stage-1";
    FBak = FTemp / "HallBoard-backup-$(x)";
    FPkg = FTemp / "HallBoard-1 'q'.zip";
    FLog = FRoot / "logs" / "hallBoard.log";
    FStarts = FRoot / "starts.txt";
    FPids = FRoot / "pids.txt";
    fs::create_directories(FLog.parent_path());
    fs::create_directories(FTemp);
    FProg = GetParam() == TShell::pwsh ? "hallBoard.exe" : "hallBoard";
  }
  void TearDown() override {
    // End every stand-in program this test started, then drop the mounts and the folders.
    std::istringstream pids(Read(FPids));
    for (long pid; pids >> pid;)
      if (pid > 1) kill(static_cast<pid_t>(pid), SIGKILL);
    for (auto it = FMounts.rbegin(); it != FMounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    std::error_code ec;
    if (!FRoot.empty()) fs::remove_all(FRoot, ec);
  }

  // A small tmpfs at folder; false when this machine does not allow mounting one.
  bool Mount(const fs::path& folder, const char* size) {
    fs::create_directories(folder);
    std::string options = std::string("size=") + size;
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) return false;
    FMounts.push_back(folder);
    return true;
  }

  // The stand-in program: records its name and working folder, then keeps running (or, for a
  // release that cannot run here, ends at once with a failure).
  void Program(const fs::path& folder, const std::string& name, bool runs = true) {
    Write(folder / FProg, "#!/bin/sh\necho \"$$\" >> '" + FPids.string() + "'\necho \"" + name +
                              " $PWD\" >> '" + FStarts.string() + "'\n" +
                              (runs ? "exec sleep 300\n" : "exit 1\n"));
    fs::permissions(folder / FProg,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  }

  // The old program folder and a release that replaces a subfolder, adds one and a hidden file.
  void StandardTrees() {
    Program(FDst, "old");
    Write(FDst / "a.txt", "old a");
    Write(FDst / "hallBoard.ini", "[Gateway]\nAddress=10.0.0.2\n");
    Write(FDst / "keep.txt", "no longer in the release");
    Write(FDst / "logs" / "20261211.log", "the store's log");
    Write(FDst / "lib" / "x.txt", "old lib x");
    Write(FDst / "lib" / "gone.txt", "only in the old lib");
    Write(FDst / "lib" / "deep" / "y.txt", "old deep y");
    Program(FSrc, "new");
    Write(FSrc / "a.txt", "new a");
    Write(FSrc / "lib" / "x.txt", "new lib x");
    Write(FSrc / "lib" / "deep" / "y.txt", "new deep y");
    Write(FSrc / "web" / "图片" / "座位.png", "new png");
    Write(FSrc / ".hidden", "new hidden");
    Write(FSrc / "manifest.json", "{}");
    Write(FSrc / "HallBoard.INI", "[Gateway]\nAddress=evil\n");
    Write(FPkg, "zip bytes");
  }

  // The tree the release should leave: the store's settings and logs, and the release; what the
  // release no longer carries (keep.txt) is gone.
  std::map<std::string, std::string> Expected(const std::map<std::string, std::string>& old,
                                              int64_t code) {
    std::map<std::string, std::string> want;
    for (auto& [k, v] : old)
      if (k == "hallBoard.ini" || k == "logs" || k.starts_with("logs/")) want[k] = v;
    for (auto& [k, v] : Tree(FSrc))
      if (k != "manifest.json" && k != "HallBoard.INI") want[k] = v;
    want[".installed-version-code"] = std::to_string(code) + "\n";
    return want;
  }

  TInstallerInputs Inputs(int64_t code, int healthSeconds) {
    TInstallerInputs in;
    in.LogPath = FLog.string();
    in.ProcessId = EndedPid();
    in.Staging = FSrc.string();
    in.ProgramFolder = FDst.string();
    in.Backup = FBak.string();
    in.Package = FPkg.string();
    in.VersionCode = code;
    in.HealthSeconds = healthSeconds;
    return in;
  }

  // Writes the script as the program would and runs it to its end; its exit status.
  int Run(TInstallerInputs in) {
    const bool ps = GetParam() == TShell::pwsh;
    FScript = FTemp / (ps ? "HallBoard-install-1.ps1" : "HallBoard-install-1.sh");
    in.Started = InstallerStartedMarker(FScript.string());
    FStarted = in.Started;
    std::string cmd;
    if (ps) {
      Write(FScript, "\xEF\xBB\xBF" + PowerShellInstallerText(in));
      cmd = ShQuote(PwshPath()) + " -NoProfile -NonInteractive -File " + ShQuote(FScript.string());
    } else {
      Write(FScript, ShInstallerText(in));
      cmd = "/bin/sh " + ShQuote(FScript.string());
    }
    cmd += " </dev/null >" + ShQuote((FRoot / "out.txt").string()) + " 2>&1";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The start lines once there are as many as expected: a program started in the background
  // may write its line after the script has ended.
  std::string Starts(size_t lines = 1) {
    auto count = [&] {
      std::string text = Read(FStarts);
      return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    for (int i = 0; i < 600 && count() < lines; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return Read(FStarts);
  }
  std::string StartLine(const std::string& name) { return name + " " + FDst.string() + "\n"; }

  // The staging folder, backup, package and start marker are gone; only the script stays.
  void ExpectOnlyTheScriptLeft() {
    std::vector<std::string> left;
    for (auto& e : fs::directory_iterator(FTemp)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{FScript.filename().string()})
        << Read(FRoot / "out.txt");
  }

  std::string Log() { return Read(FLog); }

  // The installation failed before it counted as installed: the log says it was rolled back,
  // never that it was installed, and only the script is left.
  void ExpectFailedBeforeInstallingAndCleanedUp() {
    const std::string log = Log();
    EXPECT_NE(log.find(" UPDATE_INSTALL_FAILED 安装失败（"), std::string::npos) << log;
    EXPECT_NE(log.find("，原版本已在运行（进程 "), std::string::npos) << log;
    EXPECT_EQ(log.find("UPDATE_INSTALLED"), std::string::npos) << log;
    ExpectOnlyTheScriptLeft();
  }

  fs::path FRoot, FDst, FTemp, FSrc, FBak, FPkg, FLog, FStarts, FPids, FScript, FStarted;
  std::string FProg;
  std::vector<fs::path> FMounts;
};

TEST_P(InstallerRun, InstallsExactlyTheReleaseTreeAndRestarts) {
  StandardTrees();
  const auto want = Expected(Tree(FDst), 3);
  ASSERT_EQ(Run(Inputs(3, 1)), 0) << Read(FRoot / "out.txt");
  EXPECT_EQ(Starts(), StartLine("new"));
  // Folders replace folders: lib is the release's lib (no gone.txt, no lib/lib), web is new;
  // the store's settings and files stay, the component manifest never arrives.
  EXPECT_EQ(Tree(FDst), want);
  EXPECT_EQ(ReadInstalledVersionCode(FDst.string()), 3);
  std::string log = Log();
  EXPECT_NE(log.find(" UPDATE_INSTALLED 已安装版本代码 3，正在重新打开机位图\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" UPDATE_INSTALLED 新版本已在运行（进程 "), std::string::npos) << log;
  EXPECT_EQ(log.find("UPDATE_INSTALL_FAILED"), std::string::npos) << log;
  ExpectOnlyTheScriptLeft();
}

TEST_P(InstallerRun, FullDiskDuringTheInstallRollsBackToExactlyTheOldTree) {
  // The program folder on a small file system: the release's large file cannot be written
  // after a.txt, lib and the program have already been replaced.
  if (!Mount(FDst, "1m")) GTEST_SKIP() << "skipped: this machine does not allow a tmpfs mount";
  StandardTrees();
  Write(FDst / ".installed-version-code", "2\n");
  Write(FSrc / "zz-large.bin", std::string(2 << 20, 'z'));
  const auto old = Tree(FDst);
  ASSERT_EQ(Run(Inputs(3, 1)), 1) << Read(FRoot / "out.txt");
  EXPECT_EQ(Starts(), StartLine("old"));
  // The code an earlier installation recorded stays with the program it belongs to.
  EXPECT_EQ(Tree(FDst), old);
  ExpectFailedBeforeInstallingAndCleanedUp();
}

TEST_P(InstallerRun, FullTemporaryFolderDuringTheBackupLeavesTheProgramUntouched) {
  // The backup cannot hold the program's large file: nothing in the program folder may change,
  // not even the recorded code, and the old program starts again.
  if (!Mount(FTemp, "512k")) GTEST_SKIP() << "skipped: this machine does not allow a tmpfs mount";
  StandardTrees();
  Write(FDst / ".installed-version-code", "2\n");
  Write(FDst / "lib" / "large.bin", std::string(1 << 20, 'l'));
  const auto old = Tree(FDst);
  ASSERT_EQ(Run(Inputs(3, 1)), 1) << Read(FRoot / "out.txt");
  EXPECT_EQ(Starts(), StartLine("old"));
  EXPECT_EQ(Tree(FDst), old);
  ExpectFailedBeforeInstallingAndCleanedUp();
}

TEST_P(InstallerRun, AReleaseWhoseProgramCannotRunIsRolledBack) {
  // Installed, started, and at once gone (another processor, a newer C library): the old tree
  // comes back and the old program runs.
  StandardTrees();
  Program(FSrc, "new", false);
  const auto old = Tree(FDst);
  ASSERT_EQ(Run(Inputs(4, 2)), 1) << Read(FRoot / "out.txt");
  EXPECT_EQ(Starts(2), StartLine("new") + StartLine("old"));
  EXPECT_EQ(Tree(FDst), old);
  std::string log = Log();
  EXPECT_NE(log.find("UPDATE_INSTALLED 已安装版本代码 4"), std::string::npos) << log;
  EXPECT_NE(
      log.find("UPDATE_INSTALL_FAILED 安装失败（启动新版本）：新版本启动后即退出，退出代码 1"),
      std::string::npos)
      << log;
  EXPECT_NE(log.find("UPDATE_INSTALL_FAILED 已回滚到原版本，原版本已在运行（进程 "),
            std::string::npos)
      << log;
  ExpectOnlyTheScriptLeft();
}

TEST_P(InstallerRun, WaitsForTheRunningProgramEvenAsAnUnreapedZombie) {
  StandardTrees();
  // The running program: ends after a moment and, for the sh installer, is left unreaped until
  // the installer is done, so kill -0 keeps succeeding on it; the installer must see it as
  // ended. (Windows has no zombies: there the process is reaped as it ends.)
  const std::string command = "sleep 1; echo exited >> '" + FStarts.string() + "'";
  pid_t running = fork();
  if (running == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(running, 0);
  TInstallerInputs in = Inputs(3, 1);
  in.ProcessId = static_cast<uint32_t>(running);
  std::thread reaper;
  if (GetParam() == TShell::pwsh)
    reaper = std::thread([running] {
      int status = 0;
      waitpid(running, &status, 0);
    });
  const auto begin = std::chrono::steady_clock::now();
  int rc = Run(in);
  const auto took = std::chrono::steady_clock::now() - begin;
  if (reaper.joinable()) {
    reaper.join();
  } else {
    int status = 0;
    waitpid(running, &status, 0);
  }
  ASSERT_EQ(rc, 0) << Read(FRoot / "out.txt");
  EXPECT_EQ(Starts(2), "exited\n" + StartLine("new"));
  // The wait gives up only after 120 s; a zombie mistaken for a live process would run it out.
  EXPECT_LT(took, std::chrono::seconds(100));
}

TEST_P(InstallerRun, LogLinesAreEscapedAndEndInCrLfLikeTheProgramsOwn) {
  // The failure names a path full of characters that would break a line or forge one: the line
  // the script writes is exactly the one the program's log would write for the same text.
  StandardTrees();
  const auto old = Tree(FDst);
  TInstallerInputs in = Inputs(3, 1);
  in.Staging = (FTemp / "gone\tx\x1B\r\n12:00:00 UPDATE_INSTALLED 9 \xC2\x85\xE2\x80\xA8 \\n").string();
  ASSERT_EQ(Run(in), 1) << Read(FRoot / "out.txt");
  const std::string log = Log();
  const std::string want =
      LogSafeText("UPDATE_INSTALL_FAILED 安装失败（读取更新文件）：找不到更新文件：" + in.Staging) +
      "\r\n";
  ASSERT_GT(log.size(), 9u);
  EXPECT_EQ(log.substr(9, want.size()), want) << log;
  // Every line ends in CR LF, and no line begins with a forged time.
  size_t lines = 0;
  for (size_t i = 0; i < log.size(); ++i)
    if (log[i] == '\n') {
      ++lines;
      EXPECT_EQ(log[i - 1], '\r');
    }
  EXPECT_EQ(lines, 2u) << log;
  EXPECT_EQ(Tree(FDst), old);
}

TEST_P(InstallerRun, EmptyLogPathWritesNoLog) {
  StandardTrees();
  TInstallerInputs in = Inputs(3, 1);
  in.LogPath.clear();
  ASSERT_EQ(Run(in), 0) << Read(FRoot / "out.txt");
  EXPECT_EQ(Starts(), StartLine("new"));
  EXPECT_FALSE(fs::exists(FLog));
  ExpectOnlyTheScriptLeft();
}

TEST_P(InstallerRun, AScriptStartingAfterTheProgramGaveUpChangesNothing) {
  // The program waited in vain for the start marker and took its name itself.
  StandardTrees();
  const auto old = Tree(FDst);
  const bool ps = GetParam() == TShell::pwsh;
  fs::create_directories(InstallerStartedMarker(
      (FTemp / (ps ? "HallBoard-install-1.ps1" : "HallBoard-install-1.sh")).string()));
  Run(Inputs(3, 1));
  EXPECT_EQ(Tree(FDst), old);
  EXPECT_EQ(Starts(0), "");
  EXPECT_FALSE(fs::exists(FLog));
  EXPECT_TRUE(fs::exists(FSrc));
}

INSTANTIATE_TEST_SUITE_P(Shells, InstallerRun, ::testing::Values(TShell::sh, TShell::pwsh),
                         [](const auto& info) {
                           return std::string(info.param == TShell::sh ? "Sh" : "PowerShell");
                         });

} // namespace
} // namespace hb
