#pragma once
// The update module's way to the diagnostic log. The log lives in shell/DiagnosticLog.h; while
// that module is not in the tree yet, a minimal writer with the same two calls keeps the update
// module building and testable. It disappears by itself once the real header is present.
#if __has_include("shell/DiagnosticLog.h")
#include "shell/DiagnosticLog.h"
#else
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "FileUtil.h"
#include "Platform.h"

namespace hb {

inline std::string LogFilePath(const std::string& appFolder) {
  try {
    const std::string dir = JoinPath(System().ExeFolder(), "logs");
    std::error_code ec;
    std::filesystem::create_directories(PathFromUtf8(dir), ec);
    TLocalTime t = System().LocalNow();
    char day[16];
    std::snprintf(day, sizeof day, "_%04d%02d%02d.log", t.Year, t.Month, t.Day);
    return JoinPath(dir, appFolder + day);
  } catch (...) {
    return {};
  }
}

inline void WriteLog(const std::string& text) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  try {
    TLocalTime t = System().LocalNow();
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d ", t.Hour, t.Minute, t.Second);
    std::FILE* f = std::fopen(PathToUtf8(PathFromUtf8(LogFilePath("hallBoard"))).c_str(), "ab");
    if (!f) return;
    std::string line = time + text + "\n";
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  } catch (...) {
  }
}

} // namespace hb
#endif
