// The sh installer run for real against a throw-away program folder under names that need
// quoting.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "update/uHallBoardUpdate.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A process id that no longer exists: a child that has ended and been reaped.
uint32_t EndedPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return static_cast<uint32_t>(pid);
}

// A throw-away install: a program folder with a stand-in program that records each start in a
// file, a staged release, a package file and a log, under folder names that need quoting.
class ShInstallerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/hb-installer-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FRoot = tmpl;
    FDst = FRoot / "program o'neil folder";
    FSrc = FRoot / "HallBoard-stage-\xE2\x80\x99x";
    FBak = FRoot / "HallBoard-backup-$(x)";
    FPkg = FRoot / "HallBoard-1 'q'.zip";
    FLog = FRoot / "logs" / "hallBoard.log";
    FStarts = FRoot / "starts.txt";
    fs::create_directories(FLog.parent_path());
    Program(FDst, "old");
    Write(FDst / "a.txt", "old a");
    Write(FDst / "hallBoard.ini", "[Gateway]\nAddress=10.0.0.2\n");
    Write(FDst / "keep.txt", "store file");
    Program(FSrc, "new");
    Write(FSrc / "a.txt", "new a");
    Write(FSrc / "lib" / "x.txt", "new lib");
    Write(FSrc / ".hidden", "new hidden");
    Write(FSrc / "manifest.json", "{}");
    Write(FSrc / "HallBoard.INI", "[Gateway]\nAddress=evil\n");
    Write(FPkg, "zip bytes");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(FRoot, ec);
  }

  // The stand-in program: appends its own name to the starts file and ends.
  void Program(const fs::path& folder, const std::string& name) {
    Write(folder / "hallBoard", "#!/bin/sh\necho " + name + " >> '" + FStarts.string() + "'\n");
    fs::permissions(folder / "hallBoard",
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  }

  int RunInstaller(int64_t code, uint32_t pid = 0) {
    TInstallerInputs in;
    in.LogPath = FLog.string();
    in.ProcessId = pid ? pid : EndedPid();
    in.Staging = FSrc.string();
    in.ProgramFolder = FDst.string();
    in.Backup = FBak.string();
    in.Package = FPkg.string();
    in.VersionCode = code;
    FScript = FRoot / "HallBoard-install-1.sh";
    Write(FScript, ShInstallerText(in));
    std::string cmd = "/bin/sh " + ShQuote(FScript.string()) + " >/dev/null 2>&1";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The program is started in the background; give it a moment to record its start.
  std::string WaitForStart() {
    for (int i = 0; i < 100 && Read(FStarts).empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return Read(FStarts);
  }

  void ExpectTemporariesGone() {
    EXPECT_FALSE(fs::exists(FSrc));
    EXPECT_FALSE(fs::exists(FBak));
    EXPECT_FALSE(fs::exists(FPkg));
    EXPECT_TRUE(fs::exists(FScript));
  }

  fs::path FRoot, FDst, FSrc, FBak, FPkg, FLog, FStarts, FScript;
};

TEST_F(ShInstallerRun, InstallsRecordsLogsAndRestarts) {
  ASSERT_EQ(RunInstaller(3), 0);
  EXPECT_EQ(WaitForStart(), "new\n");
  EXPECT_EQ(Read(FDst / "a.txt"), "new a");
  EXPECT_EQ(Read(FDst / "lib" / "x.txt"), "new lib");
  EXPECT_EQ(Read(FDst / ".hidden"), "new hidden");
  EXPECT_EQ(Read(FDst / "keep.txt"), "store file");
  // The store's settings and the component manifest never reach the program folder.
  EXPECT_EQ(Read(FDst / "hallBoard.ini"), "[Gateway]\nAddress=10.0.0.2\n");
  EXPECT_FALSE(fs::exists(FDst / "HallBoard.INI"));
  EXPECT_FALSE(fs::exists(FDst / "manifest.json"));
  EXPECT_EQ(Read(FDst / ".installed-version-code"), "3\n");
  EXPECT_EQ(ReadInstalledVersionCode(FDst.string()), 3);
  std::string log = Read(FLog);
  EXPECT_NE(log.find(" UPDATE_INSTALLED 已安装版本代码 3，正在重新打开机位图\n"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("UPDATE_INSTALL_FAILED"), std::string::npos) << log;
  ExpectTemporariesGone();
}

TEST_F(ShInstallerRun, WaitsForTheRunningProgramToEnd) {
  // A stand-in for the running program that records its own end a moment later; a thread
  // reaps it so that it does not linger as a zombie the installer would keep waiting for.
  const std::string command = "sleep 1; echo exited >> '" + FStarts.string() + "'";
  pid_t running = fork();
  if (running == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(running, 0);
  std::thread reaper([running] {
    int status = 0;
    waitpid(running, &status, 0);
  });
  int rc = RunInstaller(3, static_cast<uint32_t>(running));
  reaper.join();
  ASSERT_EQ(rc, 0);
  for (int i = 0; i < 100 && Read(FStarts).find("new") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Read(FStarts), "exited\nnew\n");
}

TEST_F(ShInstallerRun, FailurePartWayRollsBackAndRestartsTheOldProgram) {
  // A release file whose target is a non-empty folder cannot be copied in, even by root; it
  // sorts after a.txt and hallBoard, so both have been replaced when the copy fails.
  Write(FSrc / "zz.dat", "new zz");
  Write(FDst / "zz.dat" / "inside.txt", "old zz");
  Write(FDst / ".installed-version-code", "2\n");
  ASSERT_EQ(RunInstaller(3), 1);
  EXPECT_EQ(WaitForStart(), "old\n");
  EXPECT_EQ(Read(FDst / "a.txt"), "old a");
  EXPECT_EQ(Read(FDst / "zz.dat" / "inside.txt"), "old zz");
  EXPECT_EQ(Read(FDst / "hallBoard.ini"), "[Gateway]\nAddress=10.0.0.2\n");
  // Every roll-back drops the recorded code, even one from an earlier installation.
  EXPECT_FALSE(fs::exists(FDst / ".installed-version-code"));
  std::string log = Read(FLog);
  size_t at = log.find(" UPDATE_INSTALL_FAILED 安装失败，已回滚到原版本：");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_NE(log.find("zz.dat", at), std::string::npos) << log;
  EXPECT_EQ(log.find("UPDATE_INSTALLED"), std::string::npos) << log;
  ExpectTemporariesGone();
}

TEST_F(ShInstallerRun, MissingProgramInTheFolderIsAFailedStart) {
  // A release that removes the program's execute bit cannot be started: roll back.
  fs::permissions(FSrc / "hallBoard", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(RunInstaller(4), 1);
  EXPECT_EQ(WaitForStart(), "old\n");
  std::string log = Read(FLog);
  EXPECT_NE(log.find("UPDATE_INSTALLED 已安装版本代码 4"), std::string::npos) << log;
  EXPECT_NE(log.find("UPDATE_INSTALL_FAILED 安装失败，已回滚到原版本：主程序无法启动"),
            std::string::npos)
      << log;
  EXPECT_FALSE(fs::exists(FDst / ".installed-version-code"));
  ExpectTemporariesGone();
}

TEST_F(ShInstallerRun, EmptyLogPathWritesNoLog) {
  TInstallerInputs in;
  in.ProcessId = EndedPid();
  in.Staging = FSrc.string();
  in.ProgramFolder = FDst.string();
  in.Backup = FBak.string();
  in.Package = FPkg.string();
  in.VersionCode = 3;
  FScript = FRoot / "HallBoard-install-2.sh";
  Write(FScript, ShInstallerText(in));
  std::string cmd = "cd " + ShQuote(FRoot.string()) + " && /bin/sh " + ShQuote(FScript.string()) +
                    " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(WaitForStart(), "new\n");
  EXPECT_FALSE(fs::exists(FLog));
  ExpectTemporariesGone();
}

} // namespace
} // namespace hb
