#include "shell/DiagnosticLog.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>
#include <system_error>

#include "AppIdentity.h"
#include "FileUtil.h"
#include "Platform.h"

namespace hb {

namespace {

namespace fs = std::filesystem;

// The one log lock, and everything it guards.
std::mutex gLogLock;
// A function-local value, so a line logged by another file's start-up code finds it made.
std::string& AppFolderName() {
  static std::string name = kAppFolder;
  return name;
}
bool gFolderTested = false;
bool gExeFolderWritable = false;

// Incident tags need variety, not secrecy: one 64-bit state seeded from the clock, stepped
// atomically (so threads never share a half-updated state) and mixed with SplitMix64.
std::atomic<uint64_t> gTagState{
    static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count())};

uint64_t NextRandom() {
  uint64_t z =
      gTagState.fetch_add(0x9E3779B97F4A7C15ull, std::memory_order_relaxed) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// The one-time test of the executable's folder: make logs, write and delete a probe file.
bool ExeFolderWritable(const std::string& exeFolder) {
  try {
    const std::string logs = JoinPath(exeFolder, "logs");
    std::error_code ec;
    fs::create_directories(PathFromUtf8(logs), ec);
    if (ec) return false;
    const std::string probe = JoinPath(logs, ".write-test");
    if (!WriteFileBytes(probe, "ok")) return false;
    return fs::remove(PathFromUtf8(probe), ec) && !ec;
  } catch (...) {
    return false;
  }
}

// LogFilePath for a given moment, with the lock already held.
std::string LogFilePathLocked(const std::string& appFolder, const TLocalTime& now) {
  ISystem& system = System();
  if (!gFolderTested) {
    gFolderTested = true;
    gExeFolderWritable = ExeFolderWritable(system.ExeFolder());
  }
  const std::string folder = gExeFolderWritable
                                 ? JoinPath(system.ExeFolder(), "logs")
                                 : JoinPath(JoinPath(system.LocalAppData(), appFolder), "logs");
  std::error_code ec;
  fs::create_directories(PathFromUtf8(folder), ec);
  char name[32];
  std::snprintf(name, sizeof name, "%04d%02d%02d.log", now.Year % 10000, now.Month % 100,
                now.Day % 100);
  return JoinPath(folder, name);
}

} // namespace

std::string LogSafeText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out.append("\\x").push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // C1 controls, U+0080 to U+009F (NEL among them breaks lines in some viewers).
      const auto d = static_cast<unsigned char>(text[++i]);
      out.append("\\u00").push_back(kHex[d >> 4]);
      out.push_back(kHex[d & 15]);
    } else if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
      // The Unicode line and paragraph separators.
      out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

void SetAppFolder(const std::string& appFolder) {
  std::lock_guard<std::mutex> lock(gLogLock);
  AppFolderName() = appFolder;
}

std::string AppFolder() {
  std::lock_guard<std::mutex> lock(gLogLock);
  return AppFolderName();
}

std::string LogFilePath(const std::string& appFolder) {
  try {
    std::lock_guard<std::mutex> lock(gLogLock);
    return LogFilePathLocked(appFolder, System().LocalNow());
  } catch (...) {
    return {};
  }
}

void AppendLogLine(const std::string& appFolder, const std::string& text) {
  try {
    std::lock_guard<std::mutex> lock(gLogLock);
    // One reading of the clock for both the file and the time, so a line stamped 23:59:59
    // never lands in the next day's file.
    const TLocalTime now = System().LocalNow();
    const std::string path = LogFilePathLocked(appFolder, now);
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d ", now.Hour % 100, now.Minute % 100,
                  now.Second % 100);
    std::string line;
    // Reasons, versions, names and messages from outside reach this line: escaped here, in the
    // one place every line passes, none of them can break the line and start a forged one.
    const std::string safe = LogSafeText(text);
    line.reserve(safe.size() + 12);
    line.append(time).append(safe).append("\r\n");
    std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::app);
    if (!out) return;
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  } catch (...) {
    // The log must never take the program down; the line is lost.
  }
}

void WriteLog(const std::string& text) {
  std::string folder;
  try {
    folder = AppFolder();
  } catch (...) {
    return;
  }
  AppendLogLine(folder, text);
}

std::string NewTagSuffix() {
  static constexpr char kAlphabet[] = "23456789ABCDEFGHJKLMNPQRSTUVWXYZ";
  uint64_t r = NextRandom();
  std::string out(4, '2');
  for (char& c : out) {
    c = kAlphabet[r & 31];
    r >>= 5;
  }
  return out;
}

std::string ReportProblem(const std::string& appFolder, const std::string& code,
                          const std::string& text) {
  std::string tag;
  try {
    tag = code + "-" + NewTagSuffix();
    AppendLogLine(appFolder, "[" + tag + "] " + text);
  } catch (...) {
  }
  return tag;
}

void ResetLogFolderTestForTests() {
  std::lock_guard<std::mutex> lock(gLogLock);
  gFolderTested = false;
  gExeFolderWritable = false;
}

} // namespace hb
