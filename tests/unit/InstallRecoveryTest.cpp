// The start-up recovery on hand-made work folders: what it may delete and what it must leave.
// (The crash test runs it after every interruption of the real scripts.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "AppIdentity.h"
#include "FakeSystem.h"
#include "InstallerTestKit.h"
#include "LinuxSystem.h"
#include "Platform.h"
#include "shell/DiagnosticLog.h"
#include "update/uHallBoardUpdate.h"

namespace hb {
namespace {

class InstallRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/hb-recovery-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FRoot = tmpl;
    FDst = FRoot / "program";
    FWork = FDst / kInstallWorkFolder;
    FSys.Exe = (FRoot / "exe").string() + "/";
    fs::create_directories(FSys.Exe);
    InstallPlatform(&FSys, nullptr);
  }
  void TearDown() override {
    unsetenv(kInstallerChildVariable);
    InstallPlatform(nullptr, nullptr);
    std::error_code ec;
    fs::remove_all(FRoot, ec);
  }
  test::TFakeSystem FSys;
  fs::path FRoot, FDst, FWork;
};

TEST_F(InstallRecovery, DeletesOnlyTheTemporaryFilesItMadeItself) {
  // install.txt lies in a folder the user can write: names that are not the program's own
  // ("HallBoard-…") are never deleted, whatever it says.
  Write(FRoot / "temp" / "HallBoard-stage-1" / "x", "staged");
  Write(FRoot / "temp" / "HallBoard-1.zip", "zip");
  Write(FRoot / "temp" / "HallBoard-backup-1" / "a", "backup");
  Write(FRoot / "documents" / "report.doc", "someone's work");
  Write(FDst / "hallBoard", "program");
  const fs::path t = FRoot / "temp";
  Write(FWork / "install.txt",
        "code 3\nbackup " + (t / "HallBoard-backup-1").string() + "\ntemp " +
            (t / "HallBoard-stage-1").string() + "\ntemp " + (t / "HallBoard-1.zip").string() +
            "\ntemp " + (FRoot / "documents").string() + "\ntemp " + FRoot.string() + "\n");
  const std::string line = RecoverInterruptedInstall(FDst.string());
  EXPECT_EQ(line,
            "UPDATE_INSTALL_FAILED 上次安装在改动程序文件之前被中断，原版本未受影响（版本代码 3）");
  EXPECT_FALSE(fs::exists(FWork));
  EXPECT_FALSE(fs::exists(t / "HallBoard-stage-1"));
  EXPECT_FALSE(fs::exists(t / "HallBoard-1.zip"));
  EXPECT_FALSE(fs::exists(t / "HallBoard-backup-1"));
  EXPECT_EQ(Read(FRoot / "documents" / "report.doc"), "someone's work");
  EXPECT_EQ(Read(FDst / "hallBoard"), "program");
}

TEST_F(InstallRecovery, AJournalNameNeverLeadsOutOfTheProgramFolder) {
  Write(FDst / "hallBoard", "new program");
  Write(FWork / "old" / "hallBoard", "old program");
  Write(FRoot / "outside", "not ours");
  fs::create_directories(FWork / "new");
  Write(FWork / "install.txt", "code 3\n");
  Write(FWork / "journal.txt",
        "new hallBoard\nold hallBoard\nold ../../outside\nnew ..\nold /etc\n");
  const std::string line = RecoverInterruptedInstall(FDst.string());
  EXPECT_EQ(line, "UPDATE_INSTALL_FAILED 上次安装被中断，已恢复原版本（未装上版本代码 3）");
  EXPECT_EQ(Read(FDst / "hallBoard"), "old program");
  EXPECT_EQ(Read(FRoot / "outside"), "not ours");
  EXPECT_FALSE(fs::exists(FWork));
}

TEST_F(InstallRecovery, LeavesTheWorkOfARunningInstallerAlone) {
  // The program an installer starts must not finish what that installer still watches.
  Write(FWork / "install.txt", "code 3\n");
  Write(FWork / "committed", "");
  setenv(kInstallerChildVariable, "1", 1);
  EXPECT_EQ(RecoverInterruptedInstall(FDst.string()), "");
  EXPECT_TRUE(fs::exists(FWork / "committed"));
  unsetenv(kInstallerChildVariable);
  EXPECT_EQ(RecoverInterruptedInstall(FDst.string()),
            "UPDATE_INSTALLED 上次安装在完成后被中断，已保留新版本（版本代码 3）");
  EXPECT_FALSE(fs::exists(FWork));
  // Nothing to do: nothing said.
  EXPECT_EQ(RecoverInterruptedInstall(FDst.string()), "");
}

TEST_F(InstallRecovery, AStartWhileTheInstallerHoldsItsLockLeavesEverythingAndEnds) {
  // A person starts the program in the moments between the old program's exit and the new
  // one's start: the swap is half done, the journal is there, nothing is committed. Reversing
  // it now would undo the installer's renames as it makes them.
  FSys.LockCheck = FileFlockedElsewhere;
  Write(FDst / "hallBoard", "new program");
  Write(FWork / "old" / "hallBoard", "old program");
  fs::create_directories(FWork / "new");
  Write(FWork / "install.txt", "code 3\n");
  Write(FWork / "journal.txt", "new hallBoard\nold hallBoard\n");
  Write(FWork / kInstallerLockFile, "");
  const auto before = Tree(FDst);
  // The installer's own lock: another open of the file (flock conflicts between opens even
  // within one process, so this stands for the installer's process).
  const int held = open((FWork / kInstallerLockFile).c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);

  EXPECT_TRUE(InstallerAtWork(FDst.string()));
  EXPECT_EQ(RecoverInterruptedInstall(FDst.string()), "");
  EXPECT_FALSE(SettleInstallAtStart(FDst.string()));
  EXPECT_EQ(Tree(FDst), before);
  EXPECT_NE(Read(LogFilePath(kAppFolder))
                .find("更新：安装器正在安装新版本，装好后由它打开机位图，这次启动就此结束\r\n"),
            std::string::npos);
  // The installer's own child is watched by it: it goes on, and touches nothing either.
  setenv(kInstallerChildVariable, "1", 1);
  EXPECT_TRUE(SettleInstallAtStart(FDst.string()));
  EXPECT_EQ(Tree(FDst), before);
  unsetenv(kInstallerChildVariable);

  // The installer is gone (a power cut, a kill): its lock went with it, and the next start
  // reverses the half-done swap.
  close(held);
  EXPECT_FALSE(InstallerAtWork(FDst.string()));
  EXPECT_TRUE(SettleInstallAtStart(FDst.string()));
  EXPECT_EQ(Read(FDst / "hallBoard"), "old program");
  EXPECT_FALSE(fs::exists(FWork));
}

} // namespace
} // namespace hb
