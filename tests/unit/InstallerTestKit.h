#pragma once
// What the tests that run the installer scripts for real share: files and trees, a process id
// that no longer exists, and the ground-truth PowerShell.
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace hb {

namespace fs = std::filesystem;

enum class TShell { sh, pwsh };

inline void Write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every file and folder under root with its content ("<dir>" for folders), to compare trees.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (auto& e : fs::recursive_directory_iterator(root))
    out[fs::relative(e.path(), root).generic_string()] =
        e.is_directory() ? "<dir>" : Read(e.path());
  return out;
}

// A process id that no longer exists: a child that has ended and been reaped.
inline uint32_t EndedPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return static_cast<uint32_t>(pid);
}

// The PowerShell of the ground-truth tools, where scripts/install-deps puts it.
inline std::string PwshPath() {
  if (const char* p = std::getenv("HB_PWSH"); p && *p) return p;
  std::string cache;
  if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x)
    cache = x;
  else if (const char* h = std::getenv("HOME"))
    cache = std::string(h) + "/.cache";
  const char* tools = std::getenv("HB_TOOLS");
  return (tools && *tools ? std::string(tools) : cache + "/hallboard-tools") + "/pwsh/pwsh";
}

// In a test's SetUp: a PowerShell case skips, in one line, where pwsh is missing, and fails under
// CI, which must have it.
#define HB_SKIP_WITHOUT_PWSH(shell)                                                                \
  if ((shell) == TShell::pwsh && !fs::exists(PwshPath())) {                                        \
    if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")                       \
      FAIL() << "pwsh is required under CI: " << PwshPath() << " is missing";                      \
    GTEST_SKIP() << "skipped: the checks that need pwsh (" << PwshPath() << " is missing)";        \
  }

// Every mount at or below root, deepest first (a bind mount moves with the folder it is in, so
// the test cannot know its path in advance).
inline void UnmountBelow(const fs::path& root) {
  std::vector<std::string> found;
  std::ifstream in("/proc/self/mountinfo");
  const std::string prefix = root.string();
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, parent, dev, rootField, point;
    fields >> id >> parent >> dev >> rootField >> point;
    // mountinfo writes blanks and other specials in octal.
    std::string path;
    for (size_t i = 0; i < point.size(); ++i) {
      if (point[i] == '\\' && i + 3 < point.size()) {
        path += static_cast<char>(std::stoi(point.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        path += point[i];
      }
    }
    if (path == prefix || path.starts_with(prefix + "/")) found.push_back(path);
  }
  for (auto it = found.rbegin(); it != found.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
}

} // namespace hb
