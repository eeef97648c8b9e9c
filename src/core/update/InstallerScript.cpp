// The installer scripts that replace the program's files after it has exited: PowerShell for
// the Windows program, POSIX sh for the Linux one. Both texts are built here, in portable code,
// so both are tested on any machine; only the choice of which one to write is per platform.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
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

std::atomic<int> gHealthSeconds{kInstallerHealthSeconds};

// True once the script has created the marker. When the wait runs out, a folder of that name is
// created here: creating either is exclusive, so whoever comes first wins. A late script finds
// the name taken and stops; a script that won in the last instant counts as started.
bool WaitForStartMarker(const std::string& marker, int waitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (FileExists(marker)) return true;
    if (std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::error_code ec;
  if (std::filesystem::create_directory(PathFromUtf8(marker), ec)) return false;
  return FileExists(marker);
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

// The Windows installer. Lines that were sound as first written are kept as they were; the
// differences and why:
// - Its first action creates the start marker, and without -Force: the program closes only once
//   it sees the marker, and a program that gave up waiting has created it itself, so a script
//   that starts too late stops right there instead of installing behind the running program.
// - Creating the backup folder and listing the release happen inside the guarded part, so a
//   failure there still ends with the old program started.
// - Copy-Item puts a folder inside an existing folder of the same name (lib\lib), so each entry
//   the release replaces is removed first (it has been backed up) and then copied in.
// - $changed names what the install step has begun to change. The roll-back touches only those
//   (removing what the release put there, copying back what the backup holds), so a backup that
//   fails half-way (a full disk) leaves the program folder as it was.
// - The new program must still run some seconds after its start; a program that exits at once
//   (wrong processor, missing library) is a failed installation and is rolled back.
// - The start marker goes with the other temporary files.
std::string PowerShellInstallerText(const TInstallerInputs& in) {
  const std::string code = std::to_string(in.VersionCode);
  const std::string exe = PsQuote("hallBoard.exe");
  const std::string marker = PsQuote(".installed-version-code");
  std::vector<std::string> lines = {
      "$ErrorActionPreference='Stop'",
      "New-Item -ItemType File -Path " + PsQuote(in.Started) + " | Out-Null",
      "$log=" + PsQuote(in.LogPath),
      "function W($t){ if(-not $log){return}; try { Add-Content -LiteralPath $log -Value "
      "((Get-Date -Format 'HH:mm:ss')+' '+$t) -Encoding UTF8 } catch {} }",
      "Wait-Process -Id " + std::to_string(in.ProcessId) +
          " -Timeout 120 -ErrorAction SilentlyContinue",
      "$src=" + PsQuote(in.Staging),
      "$dst=" + PsQuote(in.ProgramFolder),
      "$bak=" + PsQuote(in.Backup),
      "$changed=@()",
      "try {",
      "  New-Item -ItemType Directory -Force -Path $bak | Out-Null",
      "  $items=Get-ChildItem -LiteralPath $src -Force | Where-Object { $_.Name -ne "
      "'manifest.json' -and $_.Name -ne " +
          PsQuote("hallBoard.ini") + " }",
      "  foreach($item in $items){ $old=Join-Path $dst $item.Name; if(Test-Path -LiteralPath "
      "$old){ Copy-Item -LiteralPath $old -Destination (Join-Path $bak $item.Name) -Recurse "
      "-Force } }",
      "  foreach($item in $items){ $new=Join-Path $dst $item.Name; $changed+=$item.Name; "
      "if(Test-Path -LiteralPath $new){ Remove-Item -LiteralPath $new -Recurse -Force }; "
      "Copy-Item -LiteralPath $item.FullName -Destination $new -Recurse -Force }",
      "  Set-Content -LiteralPath (Join-Path $dst " + marker + ") -Value " + PsQuote(code) +
          " -Encoding ASCII",
      "  W " + PsQuote(InstalledLine(in.VersionCode)),
      "  $p=Start-Process -FilePath (Join-Path $dst " + exe + ") -WorkingDirectory $dst -PassThru",
      "  if($p.WaitForExit(" + std::to_string(in.HealthSeconds * 1000) +
          ")){ throw ('新版本启动后即退出，退出代码 '+$p.ExitCode) }",
      "} catch {",
      "  W ('UPDATE_INSTALL_FAILED 安装失败，已回滚到原版本：'+$_.Exception.Message)",
      "  if($changed.Count){ Remove-Item -LiteralPath (Join-Path $dst " + marker +
          ") -Force -ErrorAction SilentlyContinue }",
      "  foreach($n in $changed){ $cur=Join-Path $dst $n; $old=Join-Path $bak $n; try { "
      "if(Test-Path -LiteralPath $cur){ Remove-Item -LiteralPath $cur -Recurse -Force }; "
      "if(Test-Path -LiteralPath $old){ Copy-Item -LiteralPath $old -Destination $cur -Recurse "
      "-Force } } catch { W ('UPDATE_INSTALL_FAILED 无法还原 '+$n+'：'+$_.Exception.Message) } }",
      "  Start-Process -FilePath (Join-Path $dst " + exe +
          ") -WorkingDirectory $dst -ErrorAction SilentlyContinue",
      "  throw",
      "} finally {",
      "  Remove-Item -LiteralPath $src -Recurse -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath $bak -Recurse -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath " + PsQuote(in.Package) + " -Force -ErrorAction SilentlyContinue",
      "  Remove-Item -LiteralPath " + PsQuote(in.Started) + " -Force -ErrorAction SilentlyContinue",
      "}",
  };
  return JoinLines(lines, "\r\n");
}

// The sh installer keeps the PowerShell one's order and rules: announce, wait, back up, replace
// entry by entry, record the code, log, start and watch the new program; on failure log the
// reason and undo only what the install step had begun to change, then start the old program.
// Besides: the wait for the old program sees through a zombie (kill -0 succeeds on one), and a
// program file that is missing or not executable counts as a failed start.
std::string ShInstallerText(const TInstallerInputs& in) {
  std::vector<std::string> lines = {
      "#!/bin/sh",
      "# Installs a staged hallBoard release once the running program has exited.",
      "started=" + ShQuote(in.Started),
      // Announce first; when the program has given up waiting it made this file itself.
      "(set -C; : >\"$started\") 2>/dev/null || exit 0",
      "log=" + ShQuote(in.LogPath),
      "pid=" + std::to_string(in.ProcessId),
      "src=" + ShQuote(in.Staging),
      "dst=" + ShQuote(in.ProgramFolder),
      "bak=" + ShQuote(in.Backup),
      "pkg=" + ShQuote(in.Package),
      "prog=" + ShQuote(kProgramFileName),
      "code=" + ShQuote(std::to_string(in.VersionCode)),
      "health=" + std::to_string(in.HealthSeconds),
      "err=",
      "items=",
      "changed=",
      "child=",
      "nl='",
      "'",
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
      "Exists() { [ -e \"$1\" ] || [ -L \"$1\" ]; }",
      // A zombie (ended, not yet reaped) still answers kill -0: read its state as well.
      "Alive() { kill -0 \"$1\" 2>/dev/null || return 1; s=$(cat \"/proc/$1/stat\" "
      "2>/dev/null) || return 0; case ${s##*') '} in Z*|X*) return 1 ;; esac; }",
      "Run() { err=$(\"$@\" 2>&1) && return 0; [ -n \"$err\" ] || err=\"$*\"; return 1; }",
      "Stage() { [ -d \"$src\" ] || { err=\"找不到更新文件：$src\"; return 1; }; "
      "items=$(Items); }",
      "Backup() { for n in $items; do if Exists \"$dst/$n\"; then Run cp -Rp -- \"$dst/$n\" "
      "\"$bak/$n\" || return 1; fi; done; }",
      "Install() { for n in $items; do changed=$changed$n$nl; if Exists \"$dst/$n\"; then Run "
      "rm -rf -- \"$dst/$n\" || return 1; fi; Run cp -Rp -- \"$src/$n\" \"$dst/$n\" || return "
      "1; done; }",
      "Record() { err=$( { printf '%s\\n' \"$code\" >\"$dst/.installed-version-code\"; } "
      "2>&1); }",
      "Launch() { if [ -f \"$dst/$prog\" ] && [ -x \"$dst/$prog\" ]; then (cd \"$dst\" && "
      "exec nohup \"./$prog\") </dev/null >/dev/null 2>&1 & child=$!; else "
      "err=\"主程序无法启动：$dst/$prog\"; return 1; fi; }",
      // The new program must still run after the health period; one that ends at once
      // (another processor, a newer C library) is a failed installation.
      "Healthy() { i=0; while [ \"$i\" -lt \"$health\" ]; do sleep 1; if ! Alive \"$child\"; "
      "then wait \"$child\"; err=\"新版本启动后即退出，退出代码 $?\"; return 1; fi; i=$((i + "
      "1)); done; }",
      "Rollback() { [ -n \"$changed\" ] || return 0; rm -f -- "
      "\"$dst/.installed-version-code\"; for n in $changed; do rm -rf -- \"$dst/$n\"; if "
      "Exists \"$bak/$n\"; then cp -Rp -- \"$bak/$n\" \"$dst/$n\" 2>/dev/null || W "
      "\"UPDATE_INSTALL_FAILED 无法还原 $n\"; fi; done; }",
      "Cleanup() { rm -rf -- \"$src\" \"$bak\"; rm -f -- \"$pkg\" \"$started\"; }",
      "n=0",
      "while [ \"$n\" -lt 120 ] && Alive \"$pid\"; do sleep 1; n=$((n + 1)); done",
      "IFS=$nl",
      "if Run mkdir -p -- \"$bak\" && Stage && set -f && Backup && Install && Record; then",
      "  W " + ShQuote(InstalledLine(in.VersionCode)),
      "  if Launch && Healthy; then Cleanup; exit 0; fi",
      "fi",
      "W \"UPDATE_INSTALL_FAILED 安装失败，已回滚到原版本：$(printf '%s' \"$err\" | tr '\\n' "
      "' ')\"",
      "Rollback",
      "Launch",
      "Cleanup",
      "exit 1",
  };
  return JoinLines(lines, "\n") + "\n";
}

std::string BuildInstallerScript(const std::string& staging, const std::string& programFolder,
                                 const std::string& backup, const std::string& package,
                                 int64_t versionCode, const std::string& scriptPath) {
  TInstallerInputs in;
  in.Started = InstallerStartedMarker(scriptPath);
  in.HealthSeconds = gHealthSeconds.load();
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

std::string InstallerStartedMarker(const std::string& scriptPath) {
  std::string path = scriptPath;
  size_t dot = path.rfind('.');
  size_t sep = path.find_last_of("/\\");
  if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) path.resize(dot);
  return path + ".started";
}

void SetInstallerHealthSecondsForTests(int healthSeconds) {
  gHealthSeconds = healthSeconds > 0 ? healthSeconds : kInstallerHealthSeconds;
}

void WriteAndLaunchInstaller(const std::string& scriptPath, const std::string& text,
                             int startWaitMs) {
#ifdef _WIN32
  // Windows PowerShell reads a script without a byte-order mark in the ANSI code page, which
  // would garble the Chinese log texts.
  const std::string bytes = "\xEF\xBB\xBF" + text;
#else
  const std::string& bytes = text;
#endif
  const std::string marker = InstallerStartedMarker(scriptPath);
  RemoveQuietly(marker);
  if (!WriteFileBytes(scriptPath, bytes) || !System().LaunchInstaller(scriptPath))
    throw Exception("无法启动更新安装器");
  // A reported start is not yet a running script: a security product or a policy can stop it
  // right after. Only its marker says it runs; the program must not close before that.
  if (!WaitForStartMarker(marker, startWaitMs))
    throw Exception("无法启动更新安装器");
}

} // namespace hb
