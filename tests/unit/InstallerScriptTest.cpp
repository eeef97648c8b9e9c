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

TEST(PowerShellInstaller, WholeTextForAFolderWithAQuote) {
  const std::string text = PowerShellInstallerText(SampleInputs());
  const std::string tmp = "C:\\Users\\O''Neil\\AppData\\Local\\Temp\\";
  const std::vector<std::string> want = {
      "$ErrorActionPreference='Stop'",
      "New-Item -ItemType File -Path '" + tmp + "HallBoard-install-4.started' | Out-Null",
      "$log='C:\\hallBoard\\logs\\hallBoard_20261210.log'",
      "function W($t){ if(-not $log){return}; try { Add-Content -LiteralPath $log -Value "
      "((Get-Date -Format 'HH:mm:ss')+' '+$t) -Encoding UTF8 } catch {} }",
      "Wait-Process -Id 4242 -Timeout 120 -ErrorAction SilentlyContinue",
      "$src='" + tmp + "HallBoard-stage-1'",
      "$dst='C:\\Program Files\\hallBoard'",
      "$bak='" + tmp + "HallBoard-backup-2'",
      "$changed=@()",
      "try {",
      "  New-Item -ItemType Directory -Force -Path $bak | Out-Null",
      "  $items=Get-ChildItem -LiteralPath $src -Force | Where-Object { $_.Name -ne "
      "'manifest.json' -and $_.Name -ne 'hallBoard.ini' }",
      "  foreach($item in $items){ $old=Join-Path $dst $item.Name; if(Test-Path -LiteralPath "
      "$old){ Copy-Item -LiteralPath $old -Destination (Join-Path $bak $item.Name) -Recurse "
      "-Force } }",
      "  foreach($item in $items){ $new=Join-Path $dst $item.Name; $changed+=$item.Name; "
      "if(Test-Path -LiteralPath $new){ Remove-Item -LiteralPath $new -Recurse -Force }; "
      "Copy-Item -LiteralPath $item.FullName -Destination $new -Recurse -Force }",
      "  Set-Content -LiteralPath (Join-Path $dst '.installed-version-code') -Value '3' "
      "-Encoding ASCII",
      "  W 'UPDATE_INSTALLED 已安装版本代码 3，正在重新打开机位图'",
      "  $p=Start-Process -FilePath (Join-Path $dst 'hallBoard.exe') -WorkingDirectory $dst "
      "-PassThru",
      "  if($p.WaitForExit(10000)){ throw ('新版本启动后即退出，退出代码 '+$p.ExitCode) }",
      "} catch {",
      "  W ('UPDATE_INSTALL_FAILED 安装失败，已回滚到原版本：'+$_.Exception.Message)",
      "  if($changed.Count){ Remove-Item -LiteralPath (Join-Path $dst '.installed-version-code') "
      "-Force -ErrorAction SilentlyContinue }",
      "  foreach($n in $changed){ $cur=Join-Path $dst $n; $old=Join-Path $bak $n; try { "
      "if(Test-Path -LiteralPath $cur){ Remove-Item -LiteralPath $cur -Recurse -Force }; "
      "if(Test-Path -LiteralPath $old){ Copy-Item -LiteralPath $old -Destination $cur -Recurse "
      "-Force } } catch { W ('UPDATE_INSTALL_FAILED 无法还原 '+$n+'：'+$_.Exception.Message) } }",
      "  Start-Process -FilePath (Join-Path $dst 'hallBoard.exe') -WorkingDirectory $dst "
      "-ErrorAction SilentlyContinue",
      "  throw",
      "} finally {",
      "  Remove-Item -LiteralPath $src -Recurse -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath $bak -Recurse -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath '" + tmp +
          "HallBoard-3.zip' -Force -ErrorAction "
          "SilentlyContinue",
      "  Remove-Item -LiteralPath '" + tmp +
          "HallBoard-install-4.started' -Force -ErrorAction SilentlyContinue",
      "}",
  };
  std::vector<std::string> got = SplitCrLf(text);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
  // No lone line feeds, nothing after the closing brace.
  EXPECT_EQ(text.back(), '}');
  size_t lf = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') {
      ++lf;
      EXPECT_EQ(text[i - 1], '\r');
    }
  EXPECT_EQ(lf, want.size() - 1);
}

TEST(PowerShellInstaller, TypographicQuoteAndEmptyLogPath) {
  TInstallerInputs in = SampleInputs();
  in.LogPath = "";
  in.Staging = "C:\\Users\\Bob\xE2\x80\x99s PC\\Temp\\HallBoard-stage-1";
  in.VersionCode = 12;
  std::vector<std::string> got = SplitCrLf(PowerShellInstallerText(in));
  ASSERT_EQ(got.size(), 30u);
  EXPECT_EQ(got[2], "$log=''");
  EXPECT_EQ(got[5], "$src='C:\\Users\\Bob\xE2\x80\x99\xE2\x80\x99s PC\\Temp\\HallBoard-stage-1'");
  EXPECT_EQ(got[14], "  Set-Content -LiteralPath (Join-Path $dst '.installed-version-code') "
                     "-Value '12' -Encoding ASCII");
  EXPECT_EQ(got[15], "  W 'UPDATE_INSTALLED 已安装版本代码 12，正在重新打开机位图'");
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
