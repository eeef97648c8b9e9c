// The installer scripts: the PowerShell text line by line, the quoting of inserted values, and
// the sh installer run for real against a throw-away program folder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "Exception.h"
#include "FakeSystem.h"
#include "FileUtil.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "update/uHallBoardUpdate.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

TEST(InstallerQuote, PowerShellLiteral) {
  struct {
    std::string in, out;
  } cases[] = {
      {"", "''"},
      {"C:\\Users\\Bob\\AppData", "'C:\\Users\\Bob\\AppData'"},
      {"C:\\Users\\O'Neil", "'C:\\Users\\O''Neil'"},
      {"''", "''''''"},
      // The typographic quotes end a PowerShell literal too: each is doubled as itself.
      {"Bob\xE2\x80\x99s", "'Bob\xE2\x80\x99\xE2\x80\x99s'"},
      {"\xE2\x80\x98\xE2\x80\x9A\xE2\x80\x9B",
       "'\xE2\x80\x98\xE2\x80\x98\xE2\x80\x9A\xE2\x80\x9A\xE2\x80\x9B\xE2\x80\x9B'"},
      // Neighbours of those code points (U+2017, U+201C) and other Chinese text stay single.
      {"\xE2\x80\x97\xE2\x80\x9C 机位图 $env:x `n", "'\xE2\x80\x97\xE2\x80\x9C 机位图 $env:x `n'"},
      // A lone E2 80 at the end must not read past the text.
      {"x\xE2\x80", "'x\xE2\x80'"},
  };
  for (const auto& c : cases) EXPECT_EQ(PsQuote(c.in), c.out) << c.in;
}

TEST(InstallerQuote, ShLiteral) {
  struct {
    std::string in, out;
  } cases[] = {
      {"", "''"},
      {"/home/bob/tmp", "'/home/bob/tmp'"},
      {"/home/o'neil", "'/home/o'\\''neil'"},
      {"$(reboot) `x` \"q\" \\n", "'$(reboot) `x` \"q\" \\n'"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShQuote(c.in), c.out) << c.in;
}

TInstallerInputs SampleInputs() {
  TInstallerInputs in;
  in.LogPath = "C:\\hallBoard\\logs\\hallBoard_20261210.log";
  in.ProcessId = 4242;
  in.Staging = "C:\\Users\\O'Neil\\AppData\\Local\\Temp\\HallBoard-stage-1";
  in.ProgramFolder = "C:\\Program Files\\hallBoard";
  in.Backup = "C:\\Users\\O'Neil\\AppData\\Local\\Temp\\HallBoard-backup-2";
  in.Package = "C:\\Users\\O'Neil\\AppData\\Local\\Temp\\HallBoard-3.zip";
  in.VersionCode = 3;
  return in;
}

TEST(PowerShellInstaller, WholeTextForAFolderWithAQuote) {
  const std::string text = PowerShellInstallerText(SampleInputs());
  const std::string tmp = "C:\\Users\\O''Neil\\AppData\\Local\\Temp\\";
  const std::vector<std::string> want = {
      "$ErrorActionPreference='Stop'",
      "$log='C:\\hallBoard\\logs\\hallBoard_20261210.log'",
      "function W($t){ if(-not $log){return}; try { Add-Content -LiteralPath $log -Value "
      "((Get-Date -Format 'HH:mm:ss')+' '+$t) -Encoding UTF8 } catch {} }",
      "Wait-Process -Id 4242 -Timeout 120 -ErrorAction SilentlyContinue",
      "$src='" + tmp + "HallBoard-stage-1'",
      "$dst='C:\\Program Files\\hallBoard'",
      "$bak='" + tmp + "HallBoard-backup-2'",
      "New-Item -ItemType Directory -Force -Path $bak | Out-Null",
      "$items=Get-ChildItem -LiteralPath $src -Force | Where-Object { $_.Name -ne "
      "'manifest.json' -and $_.Name -ne 'hallBoard.ini' }",
      "try {",
      "  foreach($item in $items){ $old=Join-Path $dst $item.Name; if(Test-Path -LiteralPath "
      "$old){ Copy-Item -LiteralPath $old -Destination (Join-Path $bak $item.Name) -Recurse "
      "-Force } }",
      "  foreach($item in $items){ Copy-Item -LiteralPath $item.FullName -Destination "
      "(Join-Path $dst $item.Name) -Recurse -Force }",
      "  Set-Content -LiteralPath (Join-Path $dst '.installed-version-code') -Value '3' "
      "-Encoding ASCII",
      "  W 'UPDATE_INSTALLED 已安装版本代码 3，正在重新打开机位图'",
      "  Start-Process -FilePath (Join-Path $dst 'hallBoard.exe') -WorkingDirectory $dst",
      "} catch {",
      "  W ('UPDATE_INSTALL_FAILED 安装失败，已回滚到原版本：'+$_.Exception.Message)",
      "  Remove-Item -LiteralPath (Join-Path $dst '.installed-version-code') -Force "
      "-ErrorAction SilentlyContinue",
      "  Get-ChildItem -LiteralPath $bak -Force | ForEach-Object { Copy-Item -LiteralPath "
      "$_.FullName -Destination (Join-Path $dst $_.Name) -Recurse -Force }",
      "  Start-Process -FilePath (Join-Path $dst 'hallBoard.exe') -WorkingDirectory $dst "
      "-ErrorAction SilentlyContinue",
      "  throw",
      "} finally {",
      "  Remove-Item -LiteralPath $src -Recurse -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath $bak -Recurse -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath '" + tmp +
          "HallBoard-3.zip' -Force -ErrorAction "
          "SilentlyContinue",
      "}",
  };
  std::vector<std::string> got = SplitCrLf(text);
  ASSERT_EQ(got.size(), 26u);
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
  // No lone line feeds, nothing after the closing brace.
  EXPECT_EQ(text.back(), '}');
  size_t lf = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') {
      ++lf;
      EXPECT_EQ(text[i - 1], '\r');
    }
  EXPECT_EQ(lf, 25u);
}

TEST(PowerShellInstaller, TypographicQuoteAndEmptyLogPath) {
  TInstallerInputs in = SampleInputs();
  in.LogPath = "";
  in.Staging = "C:\\Users\\Bob\xE2\x80\x99s PC\\Temp\\HallBoard-stage-1";
  in.VersionCode = 12;
  std::vector<std::string> got = SplitCrLf(PowerShellInstallerText(in));
  ASSERT_EQ(got.size(), 26u);
  EXPECT_EQ(got[1], "$log=''");
  EXPECT_EQ(got[4], "$src='C:\\Users\\Bob\xE2\x80\x99\xE2\x80\x99s PC\\Temp\\HallBoard-stage-1'");
  EXPECT_EQ(got[12], "  Set-Content -LiteralPath (Join-Path $dst '.installed-version-code') "
                     "-Value '12' -Encoding ASCII");
  EXPECT_EQ(got[13], "  W 'UPDATE_INSTALLED 已安装版本代码 12，正在重新打开机位图'");
}

TEST(ShInstaller, EveryInsertedValueIsQuoted) {
  TInstallerInputs in = SampleInputs();
  in.LogPath = "/var/log/o'neil $(touch /tmp/pwned)";
  in.Staging = "/tmp/a'b";
  std::string text = ShInstallerText(in);
  EXPECT_NE(text.find("\nlog='/var/log/o'\\''neil $(touch /tmp/pwned)'\n"), std::string::npos);
  EXPECT_NE(text.find("\nsrc='/tmp/a'\\''b'\n"), std::string::npos);
  EXPECT_NE(text.find("\npid=4242\n"), std::string::npos);
  EXPECT_EQ(text.rfind("#!/bin/sh\n", 0), 0u);
}

#ifndef _WIN32

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

  int RunInstaller(int64_t code) {
    TInstallerInputs in;
    in.LogPath = FLog.string();
    in.ProcessId = EndedPid();
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

// Writing and launching through the platform: the script lands under its nonce name, is
// handed to ISystem, and a refused launch is the worded failure.
TEST(InstallerLaunch, WritesTheScriptAndReportsARefusedLaunch) {
  test::TFakeSystem sys;
  TOpenSslHasher hasher;
  InstallPlatform(&sys, &hasher);
  char tmpl[] = "/tmp/hb-launch-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string path = JoinPath(tmpl, InstallerScriptName("abc"));
  EXPECT_EQ(fs::path(path).filename().string(), "HallBoard-install-abc.sh");
  WriteAndLaunchInstaller(path, "#!/bin/sh\nexit 0\n");
  EXPECT_EQ(Read(path), "#!/bin/sh\nexit 0\n");
  ASSERT_EQ(sys.Launched.size(), 1u);
  EXPECT_EQ(sys.Launched[0], path);
  sys.LaunchResult = false;
  try {
    WriteAndLaunchInstaller(path, "x");
    ADD_FAILURE() << "a refused launch must fail";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "无法启动更新安装器");
  }
  std::error_code ec;
  fs::remove_all(tmpl, ec);
  InstallPlatform(nullptr, nullptr);
}

#endif

} // namespace
} // namespace hb
