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

// The Windows installer: the same steps, journal and work folder as the sh one below (whose
// comment tells them), in PowerShell. Every path goes through .NET's file calls, which take a
// path as it stands: PowerShell's own cmdlets read brackets, '*' and '?' in -Path and
// -FilePath as wildcards, so a folder named "机位图 [2]" would start another folder's program.
// The program is started through Process.Start for the same reason, and watched.
std::string PowerShellInstallerText(const TInstallerInputs& in) {
  std::vector<std::string> lines = {
      "$ErrorActionPreference='Stop'",
      "$started=" + PsQuote(in.Started),
      "$log=" + PsQuote(in.LogPath),
      "$opid=" + std::to_string(in.ProcessId),
      "$src=" + PsQuote(in.Staging),
      "$dst=" + PsQuote(in.ProgramFolder),
      "$bak=" + PsQuote(in.Backup),
      "$pkg=" + PsQuote(in.Package),
      "$exe=" + PsQuote("hallBoard.exe"),
      "$code=" + PsQuote(std::to_string(in.VersionCode)),
      "$health=" + std::to_string(in.HealthSeconds),
      "$wait=" + std::to_string(in.WaitSeconds),
      "$killAt=" + std::to_string(in.KillAtStep),
      "$work=[IO.Path]::Combine($dst," + PsQuote(kInstallWorkFolder) + ")",
  };
  static const char* const kBody =
      R"PS($nw=[IO.Path]::Combine($work,'new'); $ow=[IO.Path]::Combine($work,'old')
$steps=0; $what=''; $err=''; $child=$null; $mine=$false; $journaled=$false; $new=@(); $old=@(); $lock=$null; $claimErr=''
$utf8=New-Object Text.UTF8Encoding $false
function Step { $script:steps++; if($script:steps -eq $killAt){ [Diagnostics.Process]::GetCurrentProcess().Kill() } }
# The log's own escaping: no file name or message can break a line or forge one.
function Esc([string]$t){ $b=New-Object Text.StringBuilder; foreach($c in $t.ToCharArray()){ $i=[int]$c; if($i -eq 13){[void]$b.Append('\r')} elseif($i -eq 10){[void]$b.Append('\n')} elseif($i -eq 9){[void]$b.Append('\t')} elseif($i -lt 32 -or $i -eq 127){[void]$b.Append('\x'+$i.ToString('X2'))} elseif($i -ge 128 -and $i -le 159){[void]$b.Append('\u00'+$i.ToString('X2'))} elseif($i -eq 0x2028 -or $i -eq 0x2029){[void]$b.Append('\u'+$i.ToString('x4'))} else {[void]$b.Append($c)} }; $b.ToString() }
function W($t){ if(-not $log){return}; try { [IO.File]::AppendAllText($log,(Get-Date -Format 'HH:mm:ss')+' '+(Esc $t)+"`r`n",$utf8) } catch {} }
function J($a,$b){ [IO.Path]::Combine($a,$b) }
function Msg($e){ $x=$e.Exception; while($x.InnerException){ $x=$x.InnerException }; $x.Message }
function Ex($p){ [IO.File]::Exists($p) -or [IO.Directory]::Exists($p) }
function Mv($a,$b){ if([IO.Directory]::Exists($a)){ [IO.Directory]::Move($a,$b) } else { [IO.File]::Move($a,$b) } }
function Kept($n){ @('hallboard.ini','logs','.hallboard-update') -contains $n.ToLowerInvariant() }
function Names($f){ @([IO.Directory]::GetFileSystemEntries($f) | ForEach-Object { [IO.Path]::GetFileName($_) }) }
function Synced($p){ $f=[IO.File]::Open($p,[IO.FileMode]::Open,[IO.FileAccess]::ReadWrite); try { $f.Flush($true) } finally { $f.Dispose() } }
function Put($p,$t){ [IO.File]::WriteAllText($p,$t,$utf8); Synced $p }
# A copy, one file at a time, each on the disk before it counts, each a step.
function CopyTree($a,$b){ if([IO.Directory]::Exists($a)){ [void][IO.Directory]::CreateDirectory($b); Step; foreach($e in [IO.Directory]::GetFileSystemEntries($a)){ CopyTree $e (J $b ([IO.Path]::GetFileName($e))) } } else { [IO.File]::Copy($a,$b,$false); Synced $b; Step } }
function Clean($all){ foreach($p in @($src,$pkg,$started)+@($(if($all){$bak}))){ try { if(Ex $p){ Remove-Item -LiteralPath $p -Recurse -Force } } catch {} } }
function WaitOld {
  try { $p=[Diagnostics.Process]::GetProcessById($opid) } catch { return $true }
  if($p.WaitForExit($wait*1000)){ return $true }
  # Left running, it would hold the single-instance lock and the new program would end at once.
  try { $p.Kill(); if(-not $p.WaitForExit(10000)){ throw '进程没有结束' } } catch { W "UPDATE_INSTALL_FAILED 旧程序（进程 $($opid)）$($wait) 秒内没有退出，也无法结束：$(Msg $_)；未改动任何文件"; return $false }
  W "安装器：旧程序（进程 $($opid)）$($wait) 秒内没有退出，已将其结束"; $true
}
$info="code $($code)`nbackup $($bak)`ntemp $($src)`ntemp $($pkg)`ntemp $($started)`n"
# The work folder and its lock come first, before the old program may exit: from then until this
# script ends, a start of the program by hand finds the lock file held (opened without sharing)
# and leaves the folder to it. The lock goes with the script however it ends. False only when a
# start holds the lock because it is recovering this very folder.
function Claim {
  if(Ex $work){ $script:claimErr='上一次安装的工作文件夹仍在'; return $true }
  try { [void][IO.Directory]::CreateDirectory($work) } catch { $script:claimErr=Msg $_; return $true }
  $script:mine=$true
  try { $script:lock=[IO.File]::Open((J $work 'installer.lock'),[IO.FileMode]::OpenOrCreate,[IO.FileAccess]::ReadWrite,[IO.FileShare]::None) } catch { if(($_.Exception.HResult -band 0xFFFF) -eq 32){ return $false } }
  try { Put (J $work 'install.txt') $info } catch {}
  $true
}
function Unclaim { if($lock){ $lock.Dispose(); $script:lock=$null }; if($mine){ try { Remove-Item -LiteralPath $work -Recurse -Force } catch {} } }
function Prepare {
  $script:what='读取更新文件'; if(-not [IO.Directory]::Exists($src)){ throw "找不到更新文件：$($src)" }
  $script:what="建立工作文件夹 $($work)"; if(-not $mine){ throw $claimErr }
  [void][IO.Directory]::CreateDirectory($nw); [void][IO.Directory]::CreateDirectory($ow)
  $script:what='写入 install.txt'; Put (J $work 'install.txt') $info; Step
  $script:new=@(Names $src | Where-Object { @('manifest.json','.installed-version-code') -notcontains $_.ToLowerInvariant() -and -not (Kept $_) }) + '.installed-version-code'
  $script:old=@(Names $dst | Where-Object { -not (Kept $_) })
  $script:what="建立备份文件夹 $($bak)"; [void][IO.Directory]::CreateDirectory($bak)
  foreach($n in $old){ $script:what="备份 $($n)"; CopyTree (J $dst $n) (J $bak $n) }
  foreach($n in $new){ if($n -ceq '.installed-version-code'){ continue }; $script:what="复制 $($n)"; CopyTree (J $src $n) (J $nw $n) }
  $script:what='写入 .installed-version-code'; Put (J $nw '.installed-version-code') "$($code)`n"; Step
  $j=''; foreach($n in $new){ $j+="new $($n)`n" }; foreach($n in $old){ $j+="old $($n)`n" }
  $script:what='写入 journal.txt'; Put (J $work 'journal.tmp') $j; [IO.File]::Move((J $work 'journal.tmp'),(J $work 'journal.txt')); $script:journaled=$true; Step
}
function Swap {
  foreach($n in $old){ $script:what="移开旧的 $($n)"; if(-not (($new -ccontains $n) -and [IO.File]::Exists((J $dst $n)) -and [IO.File]::Exists((J $nw $n)))){ Mv (J $dst $n) (J $ow $n); Step } }
  # A file replaced by a file: the old one goes aside and the new one in at once.
  foreach($n in $new){ $script:what="换入新的 $($n)"; $d=J $dst $n; if(($old -ccontains $n) -and [IO.File]::Exists($d) -and [IO.File]::Exists((J $nw $n))){ [IO.File]::Replace((J $nw $n),$d,(J $ow $n)) } else { Mv (J $nw $n) $d }; Step }
  $script:what='提交'; Put (J $work 'committed') ''; Step
}
# Undoes whatever part of the swap happened; every step is a rename that may be repeated.
function Reverse {
  $ok=$true
  # Each name once: a second pass over a name already put back would take it for the release's.
  foreach($n in @($new)+@($old | Where-Object { $new -cnotcontains $_ })){
    $d=J $dst $n; $w1=J $nw $n; $o=J $ow $n
    try {
      if(($new -ccontains $n) -and -not (Ex $w1) -and (Ex $d)){
        if(($old -ccontains $n) -and [IO.File]::Exists($o) -and -not [IO.Directory]::Exists($d)){ [IO.File]::Replace($o,$d,[NullString]::Value); Step; continue }
        Mv $d $w1; Step
      }
      if(($old -ccontains $n) -and -not (Ex $d)){
        if(Ex $o){ Mv $o $d } elseif(Ex (J $bak $n)){ CopyTree (J $bak $n) $d } else { throw '备份中没有它' }; Step
      }
    } catch { $ok=$false; W "UPDATE_INSTALL_FAILED 无法还原 $($n)：$(Msg $_)" }
  }
  $ok
}
# Drops the attempt's work once the program folder is whole. Whatever cannot be deleted stays
# in the work folder, marked done, for the next start to try again.
function Drop {
  # Windows deletes no file that is open without sharing: the lock goes first.
  if($lock){ $lock.Dispose(); $script:lock=$null }
  if($mine){ try { Put (J $work 'done') ''; Remove-Item -LiteralPath (J $work 'journal.txt') -Force -ErrorAction SilentlyContinue; Remove-Item -LiteralPath $work -Recurse -Force } catch { W "安装器：工作文件夹 $($work) 中有无法删除的旧文件，下次启动再删：$(Msg $_)" } }
  Clean $true
}
function Launch {
  $f=J $dst $exe; if(-not [IO.File]::Exists($f)){ throw "主程序无法启动：$($f)" }
  $si=New-Object Diagnostics.ProcessStartInfo; $si.FileName=$f; $si.WorkingDirectory=$dst; $si.UseShellExecute=$false
  $si.EnvironmentVariables['HALLBOARD_INSTALLER']='1'
  $script:child=[Diagnostics.Process]::Start($si)
}
# The program must still run after the health period; one that ends at once (another
# processor, a missing library, a held lock) has not started.
function Healthy { if($child.WaitForExit($health*1000)){ throw "启动后即退出，退出代码 $($child.ExitCode)" } }
if(-not (Claim)){ exit 0 }
# Announce the start; a program that gave up waiting made the marker first and runs on.
try { [IO.File]::Open($started,[IO.FileMode]::CreateNew).Dispose() } catch { Unclaim; exit 0 }
if(-not (WaitOld)){ Unclaim; Clean $false; exit 1 }
$installed=$false
try { Prepare; Swap; $installed=$true } catch { $err=Msg $_ }
if($installed){
  W "UPDATE_INSTALLED 已安装版本代码 $($code)，正在重新打开机位图"
  $what='启动新版本'
  try { Launch; Healthy; W "UPDATE_INSTALLED 新版本已在运行（进程 $($child.Id)）"; Drop; exit 0 } catch { $err='新版本'+(Msg $_) }
  try { [IO.File]::Delete((J $work 'committed')) } catch {}
}
W "UPDATE_INSTALL_FAILED 安装失败（$($what)）：$($err)"
$back=$null
if(-not $journaled){ $back='程序文件未改动' } elseif(Reverse){ $back='已回滚到原版本' }
if($back){
  try { Launch; Healthy; W "UPDATE_INSTALL_FAILED $($back)，原版本已在运行（进程 $($child.Id)）" } catch { W "UPDATE_INSTALL_FAILED $($back)，但原版本未能运行：$(Msg $_)" }
  Drop
} else {
  W "UPDATE_INSTALL_FAILED 回滚未完成，备份保留在 $($bak) 与 $($work)"
  try { Launch; Healthy; W "UPDATE_INSTALL_FAILED 程序已在运行（进程 $($child.Id)）" } catch { W "UPDATE_INSTALL_FAILED 程序未能运行：$(Msg $_)" }
  Clean $false
}
exit 1)PS";
  std::string body = kBody;
  // The script's lines end in CR LF, as Windows PowerShell expects of a file it runs.
  std::string crlf;
  for (char c : body) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return JoinLines(lines, "\r\n") + "\r\n" + crlf;
}

// The sh script's copy of the log's escaping (LogSafeText): the same control characters become
// the same escapes, so a file name or an error text cannot break a line or forge one. A GNU sed
// program over the bytes (LC_ALL=C), after joining all lines into one.
std::string ShEscapeProgram() {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string sed = ":a;N;$!ba;s/\\r/\\\\r/g;s/\\n/\\\\n/g;s/\\t/\\\\t/g";
  auto hex = [&](unsigned c) { return std::string{kHex[c >> 4], kHex[c & 15]}; };
  for (unsigned c = 1; c < 0x20; ++c)
    if (c != '\t' && c != '\n' && c != '\r') sed += ";s/\\x" + hex(c) + "/\\\\x" + hex(c) + "/g";
  sed += ";s/\\x7F/\\\\x7F/g";
  for (unsigned c = 0x80; c < 0xA0; ++c) sed += ";s/\\xC2\\x" + hex(c) + "/\\\\u00" + hex(c) + "/g";
  sed += ";s/\\xE2\\x80\\xA8/\\\\u2028/g;s/\\xE2\\x80\\xA9/\\\\u2029/g";
  return sed;
}

// The sh installer for the Linux program. Its steps, and the PowerShell script's, in order:
// - Claim the work folder in the program folder and lock its lock file, which it holds to its
//   end: a start of the program meanwhile leaves the folder to it (InstallRecovery.cpp).
// - Announce itself through the start marker (a program that gave up waiting made it first).
// - Wait for the old program; one that has not ended after the wait is ended by its process id,
//   and when even that fails no file is touched.
// - Prepare, changing nothing of the program: install.txt in the work folder, the backup copy
//   in the temporary folder, the release copied into work/new, then the journal (see
//   InstallRecovery.cpp). A full disk or a copy that fails stops here.
// - Swap by renames on the program's own file system: every old entry (replaced or no longer
//   carried) into work/old, every new one out of work/new; then the committed marker. A file
//   replaced by a file is hard-linked aside and renamed over, so the program file never lacks.
// - Start the new program and watch it; only then is the work and the backup dropped.
// - On any failure: the step and the file in the log, the swap reversed by renames (the backup
//   copy stands in for anything missing), the old program started and watched. A reversal that
//   does not finish keeps the backup and the work folder and says so.
// Every copied file, rename and marker is a step: tests kill the script after any of them.
std::string ShInstallerText(const TInstallerInputs& in) {
  std::vector<std::string> lines = {
      "#!/bin/sh",
      "# Installs a staged hallBoard release once the running program has exited.",
      "started=" + ShQuote(in.Started),
      "log=" + ShQuote(in.LogPath),
      "pid=" + std::to_string(in.ProcessId),
      "src=" + ShQuote(in.Staging),
      "dst=" + ShQuote(in.ProgramFolder),
      "bak=" + ShQuote(in.Backup),
      "pkg=" + ShQuote(in.Package),
      "prog=" + ShQuote(kProgramFileName),
      "code=" + ShQuote(std::to_string(in.VersionCode)),
      "health=" + std::to_string(in.HealthSeconds),
      "wait=" + std::to_string(in.WaitSeconds),
      "killat=" + std::to_string(in.KillAtStep),
      "work=\"$dst\"/" + ShQuote(kInstallWorkFolder),
      "Esc() { printf '%s' \"$1\" | LC_ALL=C sed '" + ShEscapeProgram() + "'; }",
  };
  static const char* const kBody = R"SH(nl='
'
steps=0 err= what= child= mine= journaled= new= old= back= claimerr=
Step() { steps=$((steps + 1)); [ "$steps" != "$killat" ] || kill -9 $$; }
W() { [ -n "$log" ] || return 0; { printf '%s %s\r\n' "$(date +%H:%M:%S)" "$(Esc "$1")" >>"$log"; } 2>/dev/null || :; }
Exists() { [ -e "$1" ] || [ -L "$1" ]; }
IsFile() { [ -f "$1" ] && [ ! -L "$1" ]; }
In() { case "$nl$2" in *"$nl$1$nl"*) return 0 ;; esac; return 1; }
Lower() { printf '%s' "$1" | tr '[:upper:]' '[:lower:]'; }
# The store's settings, the logs and the work folder stay; the release never brings its own.
Kept() { case $(Lower "$1") in hallboard.ini|logs|.hallboard-update) return 0 ;; esac; return 1; }
Entries() { for e in "$1"/* "$1"/.[!.]* "$1"/..?*; do Exists "$e" || continue; printf '%s\n' "${e##*/}"; done; }
Released() { Entries "$src" | while IFS= read -r n; do case $(Lower "$n") in manifest.json|.installed-version-code) continue ;; esac; Kept "$n" || printf '%s\n' "$n"; done; }
Present() { Entries "$dst" | while IFS= read -r n; do Kept "$n" || printf '%s\n' "$n"; done; }
Run() { err=$("$@" 2>&1) && return 0; [ -n "$err" ] || err="$*"; return 1; }
Put() { err=$( { printf '%s' "$2" >"$1"; } 2>&1) && [ "$(cat -- "$1")" = "$(printf '%s' "$2")" ] && return 0; [ -n "$err" ] || err="写入不完整：$1"; return 1; }
# A copy, one file at a time, each a step.
CopyTree() {
  if [ -d "$1" ] && [ ! -L "$1" ]; then
    Run mkdir -- "$2" || return 1; Step; set +f
    for e in "$1"/* "$1"/.[!.]* "$1"/..?*; do Exists "$e" || continue; CopyTree "$e" "$2/${e##*/}" || return 1; done
  else
    Run cp -P -p -- "$1" "$2" || return 1; Step
  fi
}
# A zombie (ended, not yet reaped) still answers kill -0: read its state as well.
Alive() { kill -0 "$1" 2>/dev/null || return 1; s=$(cat "/proc/$1/stat" 2>/dev/null) || return 0; case ${s##*') '} in Z*|X*) return 1 ;; esac; }
WaitOld() {
  n=0; while [ "$n" -lt "$wait" ] && Alive "$pid"; do sleep 1 9>&-; n=$((n + 1)); done
  Alive "$pid" || return 0
  # Left running, it would hold the single-instance lock and the new program would end at once.
  kerr=$(kill -9 "$pid" 2>&1); n=0
  while Alive "$pid" && [ "$n" -lt 100 ]; do sleep 0.1 9>&-; n=$((n + 1)); done
  if Alive "$pid"; then W "UPDATE_INSTALL_FAILED 旧程序（进程 $pid）$wait 秒内没有退出，也无法结束${kerr:+：$kerr}；未改动任何文件"; return 1; fi
  W "安装器：旧程序（进程 $pid）$wait 秒内没有退出，已将其结束"
}
# The work folder and its lock come first, before the old program may exit: from then until this
# script ends, a start of the program by hand sees the lock and leaves the folder to it. The
# lock goes with the script however it ends; its waits and the program it starts do not inherit
# it, so none of them can outlive it holding the lock. Without flock the lock is not taken.
Claim() {
  claimerr=$(mkdir -- "$work" 2>&1) || return 0
  mine=1
  if command -v flock >/dev/null 2>&1 && { command exec 9>"$work/installer.lock"; } 2>/dev/null; then
    flock -n -E 75 9; [ $? != 75 ] || return 1
  fi
  Put "$work/install.txt" "$info" || :
}
Prepare() {
  what="读取更新文件"; [ -d "$src" ] || { err="找不到更新文件：$src"; return 1; }
  what="建立工作文件夹 $work"; [ -n "$mine" ] || { err=${claimerr:-上一次安装的工作文件夹仍在}; return 1; }
  Run mkdir -- "$work/new" "$work/old" || return 1
  what="写入 install.txt"; Put "$work/install.txt" "$info" || return 1; Step
  what="列出文件"; new=$(Released) && old=$(Present) || { err="无法列出文件"; return 1; }
  new="${new:+$new$nl}.installed-version-code$nl"; old="${old:+$old$nl}"
  what="建立备份文件夹 $bak"; Run mkdir -p -- "$bak" || return 1
  set -f; for n in $old; do what="备份 $n"; CopyTree "$dst/$n" "$bak/$n" || return 1; done
  set -f; for n in $new; do [ "$n" = .installed-version-code ] && continue; what="复制 $n"; CopyTree "$src/$n" "$work/new/$n" || return 1; done
  what="写入 .installed-version-code"; Put "$work/new/.installed-version-code" "$code$nl" || return 1; Step
  j=; set -f; for n in $new; do j="${j}new $n$nl"; done; for n in $old; do j="${j}old $n$nl"; done
  what="写入 journal.txt"; Put "$work/journal.tmp" "$j" || return 1
  Run sync -f -- "$work" || return 1
  Run mv -T -- "$work/journal.tmp" "$work/journal.txt" || return 1; journaled=1; Step
}
Swap() {
  set -f
  for n in $old; do
    what="移开旧的 $n"
    if In "$n" "$new" && IsFile "$dst/$n" && IsFile "$work/new/$n"; then
      Run ln -- "$dst/$n" "$work/old/$n" || Run mv -T -- "$dst/$n" "$work/old/$n" || return 1
    else
      Run mv -T -- "$dst/$n" "$work/old/$n" || return 1
    fi; Step
  done
  for n in $new; do what="换入新的 $n"; Run mv -T -- "$work/new/$n" "$dst/$n" || return 1; Step; done
  what="提交"; Run sync -f -- "$dst" || return 1; Put "$work/committed" "" || return 1; Step
}
# Undoes whatever part of the swap happened; every step is a rename that may be repeated.
Reverse() {
  rc=0; set -f; all=$new
  # Each name once: a second pass over a name already put back would take it for the release's.
  for n in $old; do In "$n" "$new" || all="$all$n$nl"; done
  for n in $all; do
    d="$dst/$n" nw="$work/new/$n" od="$work/old/$n"
    if In "$n" "$new" && ! Exists "$nw" && Exists "$d"; then
      if In "$n" "$old" && IsFile "$od" && [ ! -d "$d" ]; then
        Run mv -T -- "$od" "$d" || { rc=1; W "UPDATE_INSTALL_FAILED 无法还原 $n：$err"; }; Step; continue
      fi
      Run mv -T -- "$d" "$nw" || { rc=1; W "UPDATE_INSTALL_FAILED 无法移走新的 $n：$err"; continue; }; Step
    fi
    if In "$n" "$old" && ! Exists "$d"; then
      if Exists "$od"; then Run mv -T -- "$od" "$d"; elif Exists "$bak/$n"; then CopyTree "$bak/$n" "$d"; else err="备份中没有它"; false; fi ||
        { rc=1; W "UPDATE_INSTALL_FAILED 无法还原 $n：$err"; }; Step
    fi
  done
  return $rc
}
# Drops the attempt's work once the program folder is whole. Whatever cannot be deleted stays
# in the work folder, marked done, for the next start to try again.
Drop() {
  if [ -n "$mine" ]; then
    Put "$work/done" ""; rm -f -- "$work/journal.txt"; rm -rf -- "$work/new" "$work/old" 2>/dev/null
    if Exists "$work/old" || Exists "$work/new"; then W "安装器：工作文件夹 $work 中有无法删除的旧文件，下次启动再删"; else rm -rf -- "$work"; fi
  fi
  rm -rf -- "$src" "$bak"; rm -f -- "$pkg" "$started"
}
Launch() {
  if [ -f "$dst/$prog" ] && [ -x "$dst/$prog" ]; then
    (cd -- "$dst" && HALLBOARD_INSTALLER=1 exec nohup "./$prog" 9>&-) </dev/null >/dev/null 2>&1 & child=$!
  else err="主程序无法启动：$dst/$prog"; return 1; fi
}
# The program must still run after the health period; one that ends at once (another
# processor, a newer C library, a held lock) has not started.
Healthy() { i=0; while [ "$i" -lt "$health" ]; do sleep 1 9>&-; if ! Alive "$child"; then wait "$child"; err="启动后即退出，退出代码 $?"; return 1; fi; i=$((i + 1)); done; }
IFS=$nl
info="code $code${nl}backup $bak${nl}temp $src${nl}temp $pkg${nl}temp $started$nl"
# A start that is recovering this very folder holds the lock: it is the program's now.
Claim || exit 0
# Announce the start; a program that gave up waiting made the marker first and runs on.
(set -C; : >"$started") 2>/dev/null || { [ -z "$mine" ] || rm -rf -- "$work"; exit 0; }
WaitOld || { [ -z "$mine" ] || rm -rf -- "$work"; rm -rf -- "$src"; rm -f -- "$pkg" "$started"; exit 1; }
if Prepare && Swap; then
  W "UPDATE_INSTALLED 已安装版本代码 $code，正在重新打开机位图"
  what="启动新版本"
  if Launch && Healthy; then W "UPDATE_INSTALLED 新版本已在运行（进程 $child）"; Drop; exit 0; fi
  err="新版本$err"; rm -f -- "$work/committed"
fi
W "UPDATE_INSTALL_FAILED 安装失败（$what）：$err"
if [ -z "$journaled" ]; then back="程序文件未改动"; elif Reverse; then back="已回滚到原版本"; else back=; fi
if [ -n "$back" ]; then
  if Launch && Healthy; then W "UPDATE_INSTALL_FAILED $back，原版本已在运行（进程 $child）"; else W "UPDATE_INSTALL_FAILED $back，但原版本未能运行：$err"; fi
  Drop
else
  W "UPDATE_INSTALL_FAILED 回滚未完成，备份保留在 $bak 与 $work"
  if Launch && Healthy; then W "UPDATE_INSTALL_FAILED 程序已在运行（进程 $child）"; else W "UPDATE_INSTALL_FAILED 程序未能运行：$err"; fi
  rm -rf -- "$src"; rm -f -- "$pkg" "$started"
fi
exit 1
)SH";
  return JoinLines(lines, "\n") + "\n" + kBody;
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
  if (!WaitForStartMarker(marker, startWaitMs)) throw Exception("无法启动更新安装器");
}

} // namespace hb
