// The installer script texts: the PowerShell text line by line and the quoting of inserted
// values, and writing and launching the platform's script (portable; also built for Windows).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "Exception.h"
#include "FakeSystem.h"
#include "FileUtil.h"
#include "Platform.h"
#include "update/uHallBoardUpdate.h"

namespace hb {
namespace {

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
  in.Started = "C:\\Users\\O'Neil\\AppData\\Local\\Temp\\HallBoard-install-4.started";
  return in;
}

// Every value the program inserts stands in its own line as one quoted literal, the lines end in
// CR LF (Windows PowerShell runs such a file as written), and nothing follows the last line.
TEST(PowerShellInstaller, InsertedValuesAndLineEnds) {
  const std::string text = PowerShellInstallerText(SampleInputs());
  const std::string tmp = "C:\\Users\\O''Neil\\AppData\\Local\\Temp\\";
  const std::vector<std::string> want = {
      "$ErrorActionPreference='Stop'",
      "$started='" + tmp + "HallBoard-install-4.started'",
      "$log='C:\\hallBoard\\logs\\hallBoard_20261210.log'",
      "$opid=4242",
      "$src='" + tmp + "HallBoard-stage-1'",
      "$dst='C:\\Program Files\\hallBoard'",
      "$bak='" + tmp + "HallBoard-backup-2'",
      "$pkg='" + tmp + "HallBoard-3.zip'",
      "$exe='hallBoard.exe'",
      "$code='3'",
      "$health=10",
      "$wait=120",
      "$killAt=0",
      "$work=[IO.Path]::Combine($dst,'.hallBoard-update')",
  };
  std::vector<std::string> got = SplitCrLf(text);
  ASSERT_GT(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
  EXPECT_EQ(got.back(), "exit 1");
  size_t lone = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' && text[i - 1] != '\r') ++lone;
  EXPECT_EQ(lone, 0u);
  // Paths reach PowerShell's cmdlets only as -LiteralPath, and programs start through .NET.
  EXPECT_EQ(text.find("-Path "), std::string::npos);
  EXPECT_EQ(text.find("Start-Process"), std::string::npos);
}

TEST(PowerShellInstaller, TypographicQuoteAndEmptyLogPath) {
  TInstallerInputs in = SampleInputs();
  in.LogPath = "";
  in.Staging = "C:\\Users\\Bob\xE2\x80\x99s PC\\Temp\\HallBoard-stage-1";
  in.VersionCode = 12;
  std::vector<std::string> got = SplitCrLf(PowerShellInstallerText(in));
  EXPECT_EQ(got[2], "$log=''");
  EXPECT_EQ(got[4], "$src='C:\\Users\\Bob\xE2\x80\x99\xE2\x80\x99s PC\\Temp\\HallBoard-stage-1'");
  EXPECT_EQ(got[9], "$code='12'");
}

TEST(ShInstaller, EveryInsertedValueIsQuoted) {
  TInstallerInputs in = SampleInputs();
  in.LogPath = "/var/log/o'neil $(touch /tmp/pwned)";
  in.Staging = "/srv/a'b";
  std::string text = ShInstallerText(in);
  EXPECT_NE(text.find("\nlog='/var/log/o'\\''neil $(touch /tmp/pwned)'\n"), std::string::npos);
  EXPECT_NE(text.find("\nsrc='/srv/a'\\''b'\n"), std::string::npos);
  EXPECT_NE(text.find("\npid=4242\n"), std::string::npos);
  EXPECT_EQ(text.rfind("#!/bin/sh\n", 0), 0u);
}

// The platform's script lands under its nonce name (a PowerShell file with a byte-order mark on
// Windows, a plain sh file elsewhere), is handed to ISystem, and a refused launch is worded.
TEST(InstallerLaunch, WritesTheScriptAndReportsARefusedLaunch) {
  test::TFakeSystem sys;
  InstallPlatform(&sys, nullptr);
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("hb-launch-" + sys.NewGuid());
  fs::create_directories(dir);
  const std::string path = JoinPath(PathToUtf8(dir), InstallerScriptName("abc"));
#ifdef _WIN32
  const std::string name = "HallBoard-install-abc.ps1", bom = "\xEF\xBB\xBF";
#else
  const std::string name = "HallBoard-install-abc.sh", bom;
#endif
  EXPECT_EQ(PathToUtf8(PathFromUtf8(path).filename()), name);
  WriteAndLaunchInstaller(path, "line 1\r\n}");
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  in.close();
  EXPECT_EQ(bytes.str(), bom + "line 1\r\n}");
  ASSERT_EQ(sys.Launched.size(), 1u);
  EXPECT_EQ(sys.Launched[0], path);
  const std::string marker = InstallerStartedMarker(path);
  EXPECT_EQ(PathToUtf8(PathFromUtf8(marker).filename()), "HallBoard-install-abc.started");
  EXPECT_TRUE(fs::is_regular_file(PathFromUtf8(marker)));
  auto expectRefused = [&](const char* why) {
    try {
      WriteAndLaunchInstaller(path, "x", 300);
      ADD_FAILURE() << why;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "无法启动更新安装器") << why;
    }
  };
  sys.LaunchResult = false;
  expectRefused("a refused launch must fail");
  // Reported as started, but stopped before its first line (a security product, a policy):
  // no marker within the wait. The program takes the marker's name itself, so the script, if
  // it does start later, stops at its first line.
  sys.LaunchResult = true;
  sys.AnnounceStart = false;
  expectRefused("a script that never announces itself must count as not started");
  EXPECT_TRUE(fs::is_directory(PathFromUtf8(marker)));
  std::error_code ec;
  fs::remove_all(dir, ec);
  InstallPlatform(nullptr, nullptr);
}

} // namespace
} // namespace hb
