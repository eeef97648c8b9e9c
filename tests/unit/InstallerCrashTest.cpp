// Crash consistency of an update, in the manner of file-system and database crash tests: the
// real installer scripts (sh, and PowerShell under the ground-truth pwsh) run over a release that
// adds, replaces, removes and reshapes folders, and are interrupted everywhere:
// - killed with SIGKILL right after each of their steps (every copied file, rename and marker),
//   on the way to a good release and on the way back from one that cannot run;
// - short of space at every size of a small file system that holds program and temporary
//   folder, from "the release does not fit" to "it fits";
// - facing a replaced entry that cannot be moved (a read-only bind mount on it) or a file
//   inside a replaced folder that cannot be deleted (a read-only bind mount on that file).
// After each run comes the start-up recovery; then the program folder must be exactly the old
// tree or exactly the new one, a program must start from it, the temporary folder must hold
// nothing but the script, and the log must say what is on the disk.
//
// The suite samples the kill points and sizes; HB_INSTALL_CRASH_FULL=1 tries every one
// (bench/install-crash.sh). Each test prints how many it tried.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "FakeSystem.h"
#include "InstallerTestKit.h"
#include "LinuxSystem.h"
#include "Platform.h"
#include "update/uHallBoardUpdate.h"

namespace hb {
namespace {

bool FullRun() {
  const char* full = std::getenv("HB_INSTALL_CRASH_FULL");
  return full && std::string(full) == "1";
}

class InstallerCrash : public ::testing::TestWithParam<TShell> {
 protected:
  void SetUp() override {
    HB_SKIP_WITHOUT_PWSH(GetParam());
    // Mounts made here vanish with this process, whatever happens to it.
    if (unshare(CLONE_NEWNS) == 0) mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    char tmpl[] = "/tmp/hb-crash-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FRoot = tmpl;
    FDisk = FRoot / "disk";
    FLog = FRoot / "logs" / "hallBoard.log";
    FStarts = FRoot / "starts.txt";
    FPids = FRoot / "pids.txt";
    fs::create_directories(FDisk);
    fs::create_directories(FLog.parent_path());
    // On a file system of its own the scripts' syncs do not wait for the rest of the machine.
    mount("tmpfs", FDisk.c_str(), "tmpfs", 0, "size=64m");
    FProg = GetParam() == TShell::pwsh ? "hallBoard.exe" : "hallBoard";
    FSys.Exe = (FRoot / "exe").string() + "/";
    fs::create_directories(FSys.Exe);
    // Recovery asks the real lock, as the program does: a killed script must leave it free.
    FSys.LockCheck = FileFlockedElsewhere;
    InstallPlatform(&FSys, nullptr);
  }
  void TearDown() override {
    EndPrograms();
    UnmountBelow(FRoot);
    InstallPlatform(nullptr, nullptr);
    std::error_code ec;
    if (!FRoot.empty()) fs::remove_all(FRoot, ec);
  }

  fs::path Dst() const { return FDisk / FDstName; }
  fs::path Temp() const { return FDisk / FTempName; }
  fs::path Src() const { return Temp() / "HallBoard-stage-1"; }
  fs::path Bak() const { return Temp() / "HallBoard-backup-1"; }
  fs::path Pkg() const { return Temp() / "HallBoard-1.zip"; }
  fs::path Script() const {
    return Temp() /
           (GetParam() == TShell::pwsh ? "HallBoard-install-1.ps1" : "HallBoard-install-1.sh");
  }

  void EndPrograms() {
    std::istringstream pids(Read(FPids));
    for (long pid; pids >> pid;)
      if (pid > 1) kill(static_cast<pid_t>(pid), SIGKILL);
    std::error_code ec;
    fs::remove(FPids, ec);
    fs::remove(FStarts, ec);
    // The stand-ins are not our children (their scripts were), but reap any that are.
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // The stand-in program: records its name, then keeps running (or ends at once).
  void Program(const fs::path& folder, const std::string& name, bool runs) {
    Write(folder / FProg, "#!/bin/sh\necho \"$$\" >> '" + FPids.string() + "'\necho \"" + name +
                              "\" >> '" + FStarts.string() + "'\n" +
                              (runs ? "exec sleep 300\n" : "exit 1\n"));
    fs::permissions(folder / FProg, fs::perms::owner_all);
  }

  // The old program folder and a release that replaces, adds, removes and reshapes: lib loses
  // a file and gains one, shrink shrinks, grow grows, a file becomes a folder and a folder a
  // file, keep.txt is no longer carried, added/ is new.
  void Trees(bool releaseRuns, size_t big = 12 << 10) {
    const fs::path d = Dst(), s = Src();
    Program(d, "old", true);
    Write(d / "a.txt", "old a");
    Write(d / "lib" / "x.txt", "old x");
    Write(d / "lib" / "gone.txt", "old gone");
    Write(d / "lib" / "deep" / "y.txt", "old y");
    for (int i = 1; i <= 3; ++i)
      Write(d / "shrink" / (std::to_string(i) + ".bin"), std::string(big, 's'));
    Write(d / "grow" / "1.bin", std::string(big / 4, 'g'));
    Write(d / "file2dir", "old file");
    Write(d / "dir2file" / "z.txt", "old z");
    Write(d / "keep.txt", "not in the release");
    Write(d / "-n [x].txt", "old dashed");
    Write(d / ".installed-version-code", "2\n");
    Write(d / "hallBoard.ini", "[Gateway]\nAddress=127.0.0.1\n");
    Write(d / "logs" / "20261211.log", "the store's log");
    Program(s, "new", releaseRuns);
    Write(s / "a.txt", "new a");
    Write(s / "lib" / "x.txt", "new x");
    Write(s / "lib" / "new.txt", "new lib file");
    Write(s / "lib" / "deep" / "y.txt", "new y");
    Write(s / "shrink" / "1.bin", std::string(big / 4, 'S'));
    for (int i = 1; i <= 4; ++i)
      Write(s / "grow" / (std::to_string(i) + ".bin"), std::string(big, 'G'));
    Write(s / "file2dir" / "inner.txt", "now a folder");
    Write(s / "dir2file", "now a file");
    Write(s / "-n [x].txt", "new dashed");
    Write(s / "added" / "图 [1] *" / "$(x) `y`.txt", "added");
    Write(s / ".hidden", "new hidden");
    Write(s / "manifest.json", "{}");
    Write(s / "HallBoard.INI", "[Gateway]\nAddress=evil\n");
    Write(Pkg(), "zip bytes");
    FOld = Tree(d);
    FNew.clear();
    for (auto& [k, v] : FOld)
      if (k == "hallBoard.ini" || k == "logs" || k.starts_with("logs/")) FNew[k] = v;
    for (auto& [k, v] : Tree(s))
      if (k != "manifest.json" && k != "HallBoard.INI") FNew[k] = v;
    FNew[".installed-version-code"] = "3\n";
  }

  // Runs the script to its end or its kill; true when it was killed.
  bool Run(int killAt, uint32_t oldPid = 0, int waitSeconds = 120) {
    return Finish(Start(killAt, oldPid, waitSeconds));
  }

  // Starts the script; `path` first in its PATH when given.
  pid_t Start(int killAt, uint32_t oldPid = 0, int waitSeconds = 120, const fs::path& path = {}) {
    TInstallerInputs in;
    in.LogPath = FLog.string();
    in.ProcessId = oldPid ? oldPid : EndedPid();
    in.Staging = Src().string();
    in.ProgramFolder = Dst().string();
    in.Backup = Bak().string();
    in.Package = Pkg().string();
    in.VersionCode = 3;
    in.HealthSeconds = 1;
    in.WaitSeconds = waitSeconds;
    in.KillAtStep = killAt;
    in.Started = InstallerStartedMarker(Script().string());
    const bool ps = GetParam() == TShell::pwsh;
    const std::string text =
        ps ? "\xEF\xBB\xBF" + PowerShellInstallerText(in) : ShInstallerText(in);
    Write(Script(), text);
    FScriptWhole = Read(Script()) == text;
    std::vector<std::string> argv =
        ps ? std::vector<std::string>{PwshPath(), "-NoProfile", "-NonInteractive", "-File",
                                      Script().string()}
           : std::vector<std::string>{"/bin/sh", Script().string()};
    const std::string out = (FRoot / "out.txt").string();
    const std::string searched =
        path.empty() ? std::string() : path.string() + ":" + std::getenv("PATH");
    pid_t child = fork();
    if (child == 0) {
      if (!searched.empty()) setenv("PATH", searched.c_str(), 1);
      int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    return child;
  }

  bool Finish(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    // pwsh may be a launcher that reports its runtime's death as status 137.
    return (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
           (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGKILL);
  }

  // The next start: recovery first, then the program in the folder must run. Checks that the
  // folder is one whole tree, nothing of the attempt is left, and the log agrees with the disk.
  // allowLeftover: the work folder may keep files that cannot be deleted.
  void ExpectWhole(const std::string& context, bool allowLeftover = false) {
    const std::string line = RecoverInterruptedInstall(Dst().string());
    auto tree = Tree(Dst());
    if (allowLeftover)
      std::erase_if(tree, [](auto& e) { return e.first.starts_with(kInstallWorkFolder); });
    const bool isOld = tree == FOld, isNew = tree == FNew;
    ASSERT_TRUE(isOld || isNew) << context << ": neither the old nor the new tree\n"
                                << Read(FLog) << line << "\n"
                                << Read(FRoot / "out.txt");
    // Nothing of the attempt is left in the temporary folder but the script.
    std::vector<std::string> left;
    for (auto& e : fs::directory_iterator(Temp())) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{Script().filename().string()}) << context;

    // The log says what is on the disk.
    const std::string log = Read(FLog) + line;
    EXPECT_EQ(line.find("未完成"), std::string::npos) << context << ": " << line;
    if (isNew) {
      EXPECT_TRUE(log.find("UPDATE_INSTALLED 新版本已在运行") != std::string::npos ||
                  line.find("已保留新版本") != std::string::npos)
          << context << "\n"
          << log;
      EXPECT_EQ(log.find("已回滚到原版本"), std::string::npos) << context << "\n" << log;
    } else {
      EXPECT_EQ(log.find("UPDATE_INSTALLED 新版本已在运行"), std::string::npos) << context << "\n"
                                                                                << log;
      EXPECT_TRUE(log.find("，原版本已在运行（进程 ") != std::string::npos ||
                  line.find("已恢复原版本") != std::string::npos ||
                  line.find("原版本未受影响") != std::string::npos)
          << context << "\n"
          << log;
    }

    // A program starts from the folder: the one the tree says.
    EndPrograms();
    const std::string prog = (Dst() / FProg).string();
    pid_t child = fork();
    if (child == 0) {
      if (chdir(Dst().c_str()) != 0) _exit(127);
      execl(prog.c_str(), prog.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    const std::string want = isNew ? "new\n" : "old\n";
    for (int i = 0; i < 600 && Read(FStarts).empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Read(FStarts), want) << context;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EndPrograms();
  }

  // Empties the file system between runs and drops the log.
  void Reset() {
    EndPrograms();
    std::error_code ec;
    for (auto& e : fs::directory_iterator(FDisk)) fs::remove_all(e.path(), ec);
    fs::remove(FLog, ec);
  }

  // Kills the script after steps 1, 1+stride, … until a run ends by itself; the points tried.
  int KillEverywhere(bool releaseRuns, int first) {
    const int stride = FullRun() ? 1 : 17;
    int tried = 0;
    for (int at = FullRun() ? 1 : first;; at += stride) {
      Reset();
      Trees(releaseRuns);
      const bool killed = Run(at);
      ExpectWhole((killed ? "killed after step " : "ran to its end with kill point ") +
                  std::to_string(at));
      if (HasFatalFailure() || !killed) break;
      ++tried;
      if (at > 2000) {
        ADD_FAILURE() << "the script never ran to its end";
        break;
      }
    }
    return tried;
  }

  std::string FDstName = "机位图 [2] $x `y` %P% -n";
  std::string FTempName = "temp 'q' *?";
  bool FScriptWhole = false;
  test::TFakeSystem FSys;
  fs::path FRoot, FDisk, FLog, FStarts, FPids;
  std::string FProg;
  std::map<std::string, std::string> FOld, FNew;
};

TEST_P(InstallerCrash, KilledAfterAnyStepOfAGoodRelease) {
  const int tried = KillEverywhere(true, 1);
  std::cout << "kill points tried (good release): " << tried << "\n";
  EXPECT_GT(tried, FullRun() ? 40 : 2);
}

TEST_P(InstallerCrash, KilledAfterAnyStepOfAReleaseThatCannotRun) {
  // These runs also stop inside the reversal that follows the failed start.
  const int tried = KillEverywhere(false, 9);
  std::cout << "kill points tried (release that cannot run): " << tried << "\n";
  EXPECT_GT(tried, FullRun() ? 40 : 2);
}

TEST_P(InstallerCrash, FullDiskAtEverySize) {
  // One small file system holds the program folder and the temporary folder; its size steps
  // from "the trees barely fit" to "the release fits".
  const size_t step = FullRun() ? 4096 : 65536;
  int tried = 0;
  bool installed = false;
  for (size_t size = 64 << 10; size < (4u << 20) && !installed; size += step) {
    Reset();
    UnmountBelow(FDisk);
    const std::string options = "size=" + std::to_string(size);
    if (mount("tmpfs", FDisk.c_str(), "tmpfs", 0, options.c_str()) != 0)
      GTEST_SKIP() << "skipped: this machine does not allow a tmpfs mount";
    try {
      Trees(true);
    } catch (const std::exception&) {
      continue; // the old tree and the staged release do not fit yet
    }
    if (!fs::exists(Pkg()) || Read(Pkg()) != "zip bytes") continue;
    ASSERT_FALSE(Run(0));
    // The program does not start a script it could not write whole ("无法启动更新安装器").
    if (!FScriptWhole) continue;
    if (Read(FLog).empty()) {
      // No room even for the start marker: the script stopped at its first line, and the
      // program, seeing no marker, keeps running and removes its package and staging folder.
      EXPECT_EQ(Tree(Dst()), FOld);
      continue;
    }
    ExpectWhole("a file system of " + std::to_string(size) + " bytes");
    if (HasFatalFailure()) return;
    installed = Tree(Dst()) == FNew;
    ++tried;
  }
  std::cout << "file-system sizes tried: " << tried << "\n";
  EXPECT_TRUE(installed) << "the release never fitted";
  EXPECT_GT(tried, 1);
}

TEST_P(InstallerCrash, AnEntryThatCannotBeMovedIsReversed) {
  // On Windows a folder with a file held open (antivirus, the indexer, a leftover process)
  // cannot be renamed; here a read-only bind mount on the entry itself does the same.
  std::vector<std::string> entries = {"lib", "dir2file", "PROGRAM"};
  if (FullRun()) entries = {"lib", "shrink", "grow", "dir2file", "file2dir", "PROGRAM"};
  for (const std::string& entry : entries) {
    Reset();
    Trees(true);
    const std::string name = entry == "PROGRAM" ? FProg : entry;
    const fs::path target = Dst() / name;
    if (mount(target.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
      GTEST_SKIP() << "skipped: this machine does not allow a bind mount";
    ASSERT_EQ(mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr),
              0);
    ASSERT_FALSE(Run(0));
    const std::string log = Read(FLog);
    // The step that meets it names it: moving it aside, or (a file replaced by a file, which
    // PowerShell swaps in one call) putting the new one in its place.
    EXPECT_TRUE(log.find("UPDATE_INSTALL_FAILED 安装失败（移开旧的 " + name + "）：") !=
                    std::string::npos ||
                log.find("UPDATE_INSTALL_FAILED 安装失败（换入新的 " + name + "）：") !=
                    std::string::npos)
        << log;
    ExpectWhole(std::string("a locked ") + name);
    EXPECT_EQ(Tree(Dst()), FOld) << name;
    UnmountBelow(FDisk);
  }
}

TEST_P(InstallerCrash, AFileThatCannotBeDeletedInAReplacedFolder) {
  // The swap only renames, so it goes through; the old folder with the file stays in the
  // work folder, and the log says so.
  Reset();
  Trees(true);
  for (const char* folder : {"lib", "shrink", "grow", "dir2file"}) {
    const fs::path locked = Dst() / folder / "locked.txt";
    Write(locked, "held open");
    if (mount(locked.c_str(), locked.c_str(), nullptr, MS_BIND, nullptr) != 0)
      GTEST_SKIP() << "skipped: this machine does not allow a bind mount";
    ASSERT_EQ(mount(nullptr, locked.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr),
              0);
  }
  FOld = Tree(Dst());
  ASSERT_FALSE(Run(0));
  const std::string log = Read(FLog);
  EXPECT_NE(log.find("UPDATE_INSTALLED 新版本已在运行"), std::string::npos) << log;
  EXPECT_NE(log.find("中有无法删除的旧文件，下次启动再删"), std::string::npos) << log;
  ExpectWhole("locked files in the replaced folders", true);
  EXPECT_TRUE(fs::exists(Dst() / kInstallWorkFolder / "done"));
  // Once the files are free, the next start removes the rest.
  UnmountBelow(FDisk);
  RecoverInterruptedInstall(Dst().string());
  EXPECT_FALSE(fs::exists(Dst() / kInstallWorkFolder));
}

TEST_P(InstallerCrash, AnOldProgramThatNeverExitsIsEnded) {
  // The old program ignores the request to close. After the wait it is ended by its id, and
  // the release installs and runs (it would otherwise end at once on the held lock).
  Reset();
  Trees(true);
  pid_t stuck = fork();
  if (stuck == 0) {
    signal(SIGTERM, SIG_IGN);
    execl("/bin/sleep", "sleep", "300", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::thread reaper([stuck] { waitpid(stuck, nullptr, 0); });
  ASSERT_FALSE(Run(0, static_cast<uint32_t>(stuck), 1));
  reaper.join();
  const std::string log = Read(FLog);
  EXPECT_NE(
      log.find("安装器：旧程序（进程 " + std::to_string(stuck) + "）1 秒内没有退出，已将其结束"),
      std::string::npos)
      << log;
  ExpectWhole("an old program that never exits");
  EXPECT_EQ(Tree(Dst()), FNew);
}

TEST_P(InstallerCrash, AnOldProgramThatCannotBeEndedLeavesEverythingAsItWas) {
  // The one process no signal ends: the system's first, which the kernel shields even from
  // SIGKILL (and which an ordinary user may not signal at all). Standing in for an old program
  // that neither exits nor can be ended, it must leave the program folder exactly as it was,
  // the log saying why, and nothing of the attempt behind but the script.
  Reset();
  Trees(true);
  ASSERT_FALSE(Run(0, 1, 1));
  const std::string log = Read(FLog);
  EXPECT_NE(log.find("UPDATE_INSTALL_FAILED 旧程序（进程 1）1 秒内没有退出，也无法结束"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("；未改动任何文件"), std::string::npos) << log;
  EXPECT_EQ(log.find("UPDATE_INSTALLED"), std::string::npos) << log;
  EXPECT_EQ(Tree(Dst()), FOld);
  std::vector<std::string> left;
  for (auto& e : fs::directory_iterator(Temp())) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{Script().filename().string()});
  EXPECT_EQ(Read(FStarts), "") << "no program may be started over the one still running";
}

TEST_P(InstallerCrash, AStartWhileTheInstallerWorksLeavesItToTheInstaller) {
  // A person starts the program while the installer works: first while the installer still
  // waits for the old program, then (sh, where a stand-in `sync` can hold the script there) with
  // the swap done and the commit not yet written. Each time the start must leave the folder
  // untouched and end; the installer then finishes as if nobody had come.
  Reset();
  Trees(true);
  const fs::path lock = Dst() / kInstallWorkFolder / kInstallerLockFile;
  const fs::path bin = FRoot / "bin", reached = FRoot / "reached", go = FRoot / "go";
  const bool sh = GetParam() == TShell::sh;
  if (sh) {
    // Holds the script at the sync that comes right before the commit marker.
    Write(bin / "sync", "#!/bin/sh\nfor a; do last=$a; done\nif [ \"$last\" = '" + Dst().string() +
                            "' ]; then : > '" + reached.string() + "'; while [ ! -e '" +
                            go.string() + "' ]; do sleep 0.05; done; fi\nexec /bin/sync \"$@\"\n");
    fs::permissions(bin / "sync", fs::perms::owner_all);
  }
  pid_t old = fork();
  if (old == 0) {
    execl("/bin/sleep", "sleep", "300", static_cast<char*>(nullptr));
    _exit(127);
  }
  const pid_t script = Start(0, static_cast<uint32_t>(old), 120, sh ? bin : fs::path());
  auto waitFor = [](auto done) {
    for (int i = 0; i < 6000 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
  };
  auto startByHand = [&](const std::string& when) {
    const auto before = Tree(Dst());
    EXPECT_TRUE(InstallerAtWork(Dst().string())) << when;
    EXPECT_EQ(RecoverInterruptedInstall(Dst().string()), "") << when;
    EXPECT_FALSE(SettleInstallAtStart(Dst().string())) << when;
    EXPECT_EQ(Tree(Dst()), before) << when;
  };
  // The start marker comes once the work folder, its lock and install.txt are in place.
  const fs::path marker = InstallerStartedMarker(Script().string());
  ASSERT_TRUE(waitFor([&] { return fs::exists(marker); })) << Read(FRoot / "out.txt");
  ASSERT_TRUE(FileFlockedElsewhere(lock.string())) << "the installer took no lock\n"
                                                   << Read(FRoot / "out.txt");
  startByHand("while the installer waits for the old program");
  kill(old, SIGKILL);
  waitpid(old, nullptr, 0);
  if (sh) {
    ASSERT_TRUE(waitFor([&] { return fs::exists(reached); })) << Read(FRoot / "out.txt");
    ASSERT_TRUE(fs::exists(Dst() / kInstallWorkFolder / "journal.txt"));
    ASSERT_FALSE(fs::exists(Dst() / kInstallWorkFolder / "committed"));
    startByHand("with the swap done and not yet committed");
    Write(go, "");
  }
  ASSERT_FALSE(Finish(script));
  EXPECT_NE(Read(FLog).find("UPDATE_INSTALLED 新版本已在运行"), std::string::npos) << Read(FLog);
  EXPECT_FALSE(InstallerAtWork(Dst().string()));
  ExpectWhole("a start while the installer works");
  EXPECT_EQ(Tree(Dst()), FNew);
}

TEST_P(InstallerCrash, EveryPathIsTakenLiterally) {
  // Folder names that a wildcard, a shell or an option parser would read as something else.
  // A sibling folder that the wildcard reading of the program folder's name would match holds
  // a program of its own: it must never start, and nothing in it may change.
  struct TRow {
    const char* dst;
    const char* sibling; // what "[2]" or "*?" would also match
    const char* temp;
  } rows[] = {
      {"机位图 [2]", "机位图 2", "temp [1]"},
      {"-rf *?", "-rf ab", "-x 'q' \"d\""},
      {"$HOME `x` %PATH% ’", "$HOME `x` %PATH% ’ ", "临时 $(x) ;"},
  };
  for (const TRow& row : rows) {
    Reset();
    FDstName = row.dst;
    FTempName = row.temp;
    Trees(true);
    const fs::path sibling = FDisk / row.sibling;
    Program(sibling, "sibling", true);
    const auto siblingTree = Tree(sibling);
    ASSERT_FALSE(Run(0));
    const std::string log = Read(FLog);
    EXPECT_NE(log.find("UPDATE_INSTALLED 新版本已在运行"), std::string::npos) << row.dst << "\n"
                                                                              << log;
    EXPECT_EQ(Read(FStarts), "new\n") << row.dst;
    EXPECT_EQ(Tree(sibling), siblingTree) << row.dst;
    ExpectWhole(std::string("folder ") + row.dst);
    EXPECT_EQ(Tree(Dst()), FNew) << row.dst;
  }
}

INSTANTIATE_TEST_SUITE_P(Shells, InstallerCrash, ::testing::Values(TShell::sh, TShell::pwsh),
                         [](const auto& info) {
                           return std::string(info.param == TShell::sh ? "Sh" : "PowerShell");
                         });

} // namespace
} // namespace hb
