// The installer scripts that replace the program's files after it has exited: PowerShell for
// the Windows program, POSIX sh for the Linux one. Both texts are built here, in portable code,
// so both are tested on any machine; only the choice of which one to write is per platform.
#include <string>
#include <vector>

#include "AppIdentity.h"
#include "Exception.h"
#include "FileUtil.h"
#include "Platform.h"
#include "shell/DiagnosticLog.h"
#include "uHallBoardUpdate.h"

namespace hb {

namespace {

std::string JoinLines(const std::vector<std::string>& lines, const char* eol) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += eol;
    out += lines[i];
  }
  return out;
}

std::string InstalledLine(int64_t code) {
  return "UPDATE_INSTALLED 已安装版本代码 " + std::to_string(code) + "，正在重新打开机位图";
}

} // namespace

std::string PsQuote(const std::string& text) {
  std::string out = "'";
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    out += c;
    if (c == '\'') {
      out += '\'';
    } else if (static_cast<unsigned char>(c) == 0xE2 && i + 2 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) == 0x80) {
      // U+2018..U+201B are E2 80 98..9B in UTF-8; PowerShell reads each as a single quote.
      unsigned char third = static_cast<unsigned char>(text[i + 2]);
      if (third >= 0x98 && third <= 0x9B) {
        std::string quote = text.substr(i, 3);
        out += quote.substr(1) + quote;
        i += 2;
      }
    }
  }
  return out + "'";
}

std::string ShQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string PowerShellInstallerText(const TInstallerInputs& in) {
  const std::string code = std::to_string(in.VersionCode);
  const std::string exe = PsQuote("hallBoard.exe");
  const std::string marker = PsQuote(".installed-version-code");
  std::vector<std::string> lines = {
      "$ErrorActionPreference='Stop'",
      "$log=" + PsQuote(in.LogPath),
      "function W($t){ if(-not $log){return}; try { Add-Content -LiteralPath $log -Value "
      "((Get-Date -Format 'HH:mm:ss')+' '+$t) -Encoding UTF8 } catch {} }",
      "Wait-Process -Id " + std::to_string(in.ProcessId) +
          " -Timeout 120 -ErrorAction SilentlyContinue",
      "$src=" + PsQuote(in.Staging),
      "$dst=" + PsQuote(in.ProgramFolder),
      "$bak=" + PsQuote(in.Backup),
      "New-Item -ItemType Directory -Force -Path $bak | Out-Null",
      "$items=Get-ChildItem -LiteralPath $src -Force | Where-Object { $_.Name -ne "
      "'manifest.json' -and $_.Name -ne " +
          PsQuote("hallBoard.ini") + " }",
      "try {",
      "  foreach($item in $items){ $old=Join-Path $dst $item.Name; if(Test-Path -LiteralPath "
      "$old){ Copy-Item -LiteralPath $old -Destination (Join-Path $bak $item.Name) -Recurse "
      "-Force } }",
      "  foreach($item in $items){ Copy-Item -LiteralPath $item.FullName -Destination "
      "(Join-Path $dst $item.Name) -Recurse -Force }",
      "  Set-Content -LiteralPath (Join-Path $dst " + marker + ") -Value " + PsQuote(code) +
          " -Encoding ASCII",
      "  W " + PsQuote(InstalledLine(in.VersionCode)),
      "  Start-Process -FilePath (Join-Path $dst " + exe + ") -WorkingDirectory $dst",
      "} catch {",
      "  W ('UPDATE_INSTALL_FAILED 安装失败，已回滚到原版本：'+$_.Exception.Message)",
      "  Remove-Item -LiteralPath (Join-Path $dst " + marker +
          ") -Force -ErrorAction SilentlyContinue",
      "  Get-ChildItem -LiteralPath $bak -Force | ForEach-Object { Copy-Item -LiteralPath "
      "$_.FullName -Destination (Join-Path $dst $_.Name) -Recurse -Force }",
      "  Start-Process -FilePath (Join-Path $dst " + exe +
          ") -WorkingDirectory $dst -ErrorAction SilentlyContinue",
      "  throw",
      "} finally {",
      "  Remove-Item -LiteralPath $src -Recurse -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath $bak -Recurse -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath " + PsQuote(in.Package) + " -Force -ErrorAction SilentlyContinue",
      "}",
  };
  return JoinLines(lines, "\r\n");
}

// The sh installer keeps the PowerShell one's order: wait, back up, copy in, record the code,
// log, start; on failure log the reason, drop the recorded code, restore, start the old
// program. Two deliberate differences: creating the backup folder is inside the guarded part
// (so a full disk still restarts the old program), and a program file that is missing or not
// executable counts as a failed start, since a background start cannot report one.
std::string ShInstallerText(const TInstallerInputs& in) {
  std::vector<std::string> lines = {
      "#!/bin/sh",
      "# Installs a staged hallBoard release once the running program has exited.",
      "log=" + ShQuote(in.LogPath),
      "pid=" + std::to_string(in.ProcessId),
      "src=" + ShQuote(in.Staging),
      "dst=" + ShQuote(in.ProgramFolder),
      "bak=" + ShQuote(in.Backup),
      "pkg=" + ShQuote(in.Package),
      "prog=" + ShQuote(kProgramFileName),
      "err=",
      "W() { [ -n \"$log\" ] || return 0; { printf '%s %s\\n' \"$(date +%H:%M:%S)\" \"$1\" "
      ">>\"$log\"; } 2>/dev/null || :; }",
      // Every top-level entry of a folder, hidden ones included, the glob's own pattern
      // skipped when nothing matches.
      "Entries() { for e in \"$1\"/* \"$1\"/.[!.]* \"$1\"/..?*; do [ -e \"$e\" ] || [ -L "
      "\"$e\" ] || continue; printf '%s\\n' \"${e##*/}\"; done; }",
      // The release minus the two names that stay the store's (compared without case, as the
      // Windows installer does).
      "Items() { Entries \"$src\" | while IFS= read -r n; do case $(printf '%s' \"$n\" | tr "
      "'[:upper:]' '[:lower:]') in manifest.json|hallboard.ini) ;; *) printf '%s\\n' \"$n\" "
      ";; esac; done; }",
      "Backup() { Items | { while IFS= read -r n; do if [ -e \"$dst/$n\" ] || [ -L "
      "\"$dst/$n\" ]; then cp -Rp -- \"$dst/$n\" \"$bak/\" || exit 1; fi; done; }; }",
      "Install() { Items | { while IFS= read -r n; do cp -Rp -- \"$src/$n\" \"$dst/\" || exit "
      "1; done; }; }",
      "Launch() { if [ -f \"$dst/$prog\" ] && [ -x \"$dst/$prog\" ]; then (cd \"$dst\" && "
      "exec nohup \"./$prog\") </dev/null >/dev/null 2>&1 & else echo \"主程序无法启动："
      "$dst/$prog\"; return 1; fi; }",
      "Cleanup() { rm -rf -- \"$src\" \"$bak\"; rm -f -- \"$pkg\"; }",
      "n=0",
      "while [ \"$n\" -lt 120 ] && kill -0 \"$pid\" 2>/dev/null; do sleep 1; n=$((n + 1)); "
      "done",
      "if err=$(mkdir -p -- \"$bak\" 2>&1) && err=$(Backup 2>&1) && err=$(Install 2>&1) && "
      "err=$( { printf '%s\\n' " +
          ShQuote(std::to_string(in.VersionCode)) +
          " >\"$dst/.installed-version-code\"; } 2>&1); then",
      "  W " + ShQuote(InstalledLine(in.VersionCode)),
      "  if err=$(Launch 2>&1); then Cleanup; exit 0; fi",
      "fi",
      "W \"UPDATE_INSTALL_FAILED 安装失败，已回滚到原版本：$(printf '%s' \"$err\" | tr '\\n' "
      "' ')\"",
      "rm -f -- \"$dst/.installed-version-code\"",
      "Entries \"$bak\" | while IFS= read -r n; do cp -Rp -- \"$bak/$n\" \"$dst/\"; done",
      "Launch >/dev/null 2>&1",
      "Cleanup",
      "exit 1",
  };
  return JoinLines(lines, "\n") + "\n";
}

std::string BuildInstallerScript(const std::string& staging, const std::string& programFolder,
                                 const std::string& backup, const std::string& package,
                                 int64_t versionCode) {
  TInstallerInputs in;
  in.LogPath = LogFilePath(kAppFolder);
  in.ProcessId = System().ProcessId();
  in.Staging = staging;
  in.ProgramFolder = programFolder;
  in.Backup = backup;
  in.Package = package;
  in.VersionCode = versionCode;
#ifdef _WIN32
  return PowerShellInstallerText(in);
#else
  return ShInstallerText(in);
#endif
}

std::string InstallerScriptName(const std::string& nonce) {
#ifdef _WIN32
  return "HallBoard-install-" + nonce + ".ps1";
#else
  return "HallBoard-install-" + nonce + ".sh";
#endif
}

void WriteAndLaunchInstaller(const std::string& scriptPath, const std::string& text) {
#ifdef _WIN32
  // Windows PowerShell reads a script without a byte-order mark in the ANSI code page, which
  // would garble the Chinese log texts.
  const std::string bytes = "\xEF\xBB\xBF" + text;
#else
  const std::string& bytes = text;
#endif
  if (!WriteFileBytes(scriptPath, bytes) || !System().LaunchInstaller(scriptPath))
    throw Exception("无法启动更新安装器");
}

} // namespace hb
