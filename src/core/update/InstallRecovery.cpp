// What a start does about an installation that never ended (a power cut, a killed installer).
//
// Both installer scripts keep their work in one folder inside the program folder, so that every
// change to the program folder is a rename on one file system:
//   installer.lock  held locked by the installer from its first step to its end, so that a
//                 start in the meantime can tell a live installation from an interrupted one
//   install.txt   the version code, the backup folder and the temporary files of the attempt;
//                 written before anything else
//   new/          the release's entries, copied in before anything of the old program moves
//   old/          the old entries, moved (or, for a file replaced by a file, hard-linked) aside
//   journal.txt   "new <name>" and "old <name>" lines: written whole once new/ is complete; from
//                 then on the program folder may change
//   committed     created once every entry has been swapped and the new tree is whole
// Every rename is all or nothing, so where an entry is tells how far its swap got: a name still
// in new/ has not been swapped in, a name gone from new/ has. That is all a reversal needs.
// Without the journal nothing in the program folder has changed yet; with the committed marker
// the new tree is whole. The scripts do the same reversal as ReverseInstall below.
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

#include "FileUtil.h"
#include "Platform.h"
#include "shell/DiagnosticLog.h"
#include "uHallBoardUpdate.h"

namespace hb {

namespace {

namespace fs = std::filesystem;

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

bool IsPlainFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(fs::symlink_status(p, ec));
}

bool IsFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(p, ec));
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> out;
  std::optional<std::string> bytes = ReadFileBytes(path, 16u << 20);
  if (!bytes) return out;
  std::istringstream in(*bytes);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// "word value" lines; the value is the rest of the line, blanks included.
std::vector<std::string> Values(const std::vector<std::string>& lines, std::string_view word) {
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (line.size() > word.size() && line.compare(0, word.size(), word) == 0 &&
        line[word.size()] == ' ')
      out.push_back(line.substr(word.size() + 1));
  return out;
}

// A release's entry name is one plain name: nothing in the journal may lead a rename out of the
// folders it names.
// The temporary files of an attempt all have names the program made ("HallBoard-…"); a path
// from install.txt is removed only when it is one of those, so an edited file deletes nothing else.
bool IsOurTempPath(const std::string& path) {
  const size_t sep = path.find_last_of("/\\");
  return path.compare(sep == std::string::npos ? 0 : sep + 1, 10, "HallBoard-") == 0;
}

bool IsPlainName(const std::string& n) {
  return !n.empty() && n != "." && n != ".." && n.find('/') == std::string::npos &&
         n.find('\\') == std::string::npos;
}

void CopyTree(const fs::path& from, const fs::path& to) {
  if (IsFolder(from))
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  else
    fs::copy(from, to, fs::copy_options::copy_symlinks);
}

// Removes the work folder once the program folder is whole. It is marked done first, so that
// whatever cannot be deleted (a file held open) is only ever retried, never read as an
// installation still to be undone. True when nothing is left.
bool DropWork(const std::string& work) {
  WriteFileBytes(JoinPath(work, "done"), "");
  RemoveQuietly(JoinPath(work, "journal.txt"));
  std::error_code ec;
  bool left = false;
  for (fs::directory_iterator it(PathFromUtf8(work), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename() == "done") continue;
    std::error_code rec;
    fs::remove_all(it->path(), rec);
    left = left || rec;
  }
  if (!left) RemoveQuietly(work);
  return !Exists(PathFromUtf8(work));
}

} // namespace

std::string ReverseInstall(const std::string& programFolder, const std::string& backup,
                           const std::vector<std::string>& released,
                           const std::vector<std::string>& replaced) {
  const fs::path dst = PathFromUtf8(programFolder);
  const fs::path work = dst / PathFromUtf8(kInstallWorkFolder);
  const std::set<std::string> isNew(released.begin(), released.end());
  const std::set<std::string> isOld(replaced.begin(), replaced.end());
  // Each name once: a second pass over a name already put back would take it for the release's.
  std::vector<std::string> names = released;
  for (const std::string& n : replaced)
    if (!isNew.count(n)) names.push_back(n);
  std::string failed;
  for (const std::string& n : names) {
    if (!IsPlainName(n)) continue;
    const fs::path u8 = PathFromUtf8(n);
    const fs::path d = dst / u8, nw = work / "new" / u8, od = work / "old" / u8;
    try {
      if (isNew.count(n) && !Exists(nw) && Exists(d)) {
        // The release's entry is in place. A file that replaced a file goes back in one rename,
        // so the program file is never missing; anything else moves back into new/ first.
        if (isOld.count(n) && IsPlainFile(od) && !IsFolder(d)) {
          std::error_code ec;
          fs::rename(od, d, ec);
          if (!ec) continue;
          // Windows replaces no file that runs as this very program; it does let it be renamed
          // aside, after which the old one goes back in the ordinary two steps below.
        }
        fs::rename(d, nw);
      }
      if (isOld.count(n) && !Exists(d)) {
        if (Exists(od))
          fs::rename(od, d);
        else if (!backup.empty() && Exists(PathFromUtf8(backup) / u8))
          CopyTree(PathFromUtf8(backup) / u8, d);
        else
          throw std::runtime_error("备份中没有它");
      }
    } catch (const std::exception& e) {
      failed += (failed.empty() ? "" : "；") + n + "：" + e.what();
    }
  }
  return failed;
}

bool InstallerAtWork(const std::string& programFolder) {
  // The program an installer starts must leave the installer's work alone: the installer still
  // watches it and may yet reverse the installation.
  if (const char* by = std::getenv(kInstallerChildVariable); by && *by) return false;
  const std::string work = JoinPath(programFolder, kInstallWorkFolder);
  return System().FileLockedElsewhere(JoinPath(work, kInstallerLockFile));
}

std::string RecoverInterruptedInstall(const std::string& programFolder) {
  const std::string work = JoinPath(programFolder, kInstallWorkFolder);
  if (!Exists(PathFromUtf8(work))) return {};
  if (const char* by = std::getenv(kInstallerChildVariable); by && *by) return {};
  // A live installer is not an interrupted one: reversing under it would undo its renames as it
  // makes them.
  if (InstallerAtWork(programFolder)) return {};

  if (Exists(PathFromUtf8(JoinPath(work, "done")))) {
    // The installer finished and logged its outcome; only files it could not delete are left.
    if (DropWork(work)) return {};
    const std::string line = "更新：工作文件夹 " + work + " 中仍有无法删除的旧文件";
    WriteLog(line);
    return line;
  }
  const std::vector<std::string> info = Lines(JoinPath(work, "install.txt"));
  const std::vector<std::string> codes = Values(info, "code");
  const std::vector<std::string> backups = Values(info, "backup");
  const std::string code = codes.empty() ? "?" : codes.front();
  const std::string backup = backups.empty() ? std::string() : backups.front();
  const std::string journal = JoinPath(work, "journal.txt");
  const bool committed = Exists(PathFromUtf8(JoinPath(work, "committed")));

  std::string line;
  if (committed) {
    line = "UPDATE_INSTALLED 上次安装在完成后被中断，已保留新版本（版本代码 " + code + "）";
  } else if (FileExists(journal)) {
    const std::vector<std::string> entries = Lines(journal);
    const std::string failed =
        ReverseInstall(programFolder, backup, Values(entries, "new"), Values(entries, "old"));
    if (!failed.empty()) {
      // Everything stays where it is, backup included: the next start tries again, and support
      // staff can put the files back by hand.
      line = "UPDATE_INSTALL_FAILED 上次安装被中断，恢复原版本未完成：" + failed + "；备份保留在 " +
             backup + " 与 " + work;
      WriteLog(line);
      return line;
    }
    line = "UPDATE_INSTALL_FAILED 上次安装被中断，已恢复原版本（未装上版本代码 " + code + "）";
  } else {
    line = "UPDATE_INSTALL_FAILED 上次安装在改动程序文件之前被中断，原版本未受影响（版本代码 " +
           code + "）";
  }
  const bool dropped = DropWork(work);
  for (const std::string& temp : Values(info, "temp"))
    if (IsOurTempPath(temp)) RemoveQuietly(temp);
  if (IsOurTempPath(backup)) RemoveQuietly(backup);
  if (!dropped) line += "；工作文件夹 " + work + " 中有无法删除的旧文件，下次启动再删";
  WriteLog(line);
  return line;
}

bool SettleInstallAtStart(const std::string& programFolder) {
  if (InstallerAtWork(programFolder)) {
    WriteLog("更新：安装器正在安装新版本，装好后由它打开机位图，这次启动就此结束");
    return false;
  }
  RecoverInterruptedInstall(programFolder);
  return true;
}

} // namespace hb
