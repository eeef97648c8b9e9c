// The Linux system services: GUIDs, file-name keys, GBK decoding, folders, the detached launch.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "LinuxSystem.h"

namespace hb {
namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old, FHad = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (FHad)
      setenv(FName.c_str(), FOld.c_str(), 1);
    else
      unsetenv(FName.c_str());
  }

 private:
  std::string FName, FOld;
  bool FHad = false;
};

TEST(LinuxSystemTest, GuidsAreVersion4LowerCaseAndUnique) {
  TLinuxSystem sys;
  const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    std::string g = sys.NewGuid();
    ASSERT_TRUE(std::regex_match(g, shape)) << g;
    ASSERT_TRUE(seen.insert(g).second) << "repeated " << g;
  }
}

TEST(LinuxSystemTest, FileNameKeysMatchExactlyTheNamesThatDifferOnlyInCase) {
  TLinuxSystem sys;
  struct TCase {
    const char* A;
    const char* B;
    bool Same;
  };
  const TCase cases[] = {
      {"HallBoard.EXE", "hallboard.exe", true},
      {"manifest.json", "Manifest.JSON", true},
      {"ΑΒΓΔ.txt", "αβγδ.txt", true},     // Greek
      {"ΟΔΟΣ", "οδος", true},             // final sigma folds with capital sigma
      {"ПРИВЕТ.dll", "привет.dll", true}, // Cyrillic
      {"Straße", "STRASSE", true},        // full folding: ß is "ss"
      {"ÉCOLE", "école", true},           // precomposed accents
      {"e\xCC\x81", "\xC3\xA9", true},    // e + combining acute is é after NFC
      {"I", "i", true},                   // no Turkish tailoring
      {"\xC4\xB0", "i", false},           // İ folds to i + combining dot, not to i
      {"\xC4\xB1", "i", false},           // dotless ı stays its own letter
      {"a.txt", "b.txt", false},
      {"a.txt", "a.txt ", false},
      {"机位图.txt", "机位图.TXT", true}, // letters without case stay as they are
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sys.FileNameKey(c.A) == sys.FileNameKey(c.B), c.Same) << c.A << " vs " << c.B;
  }
  EXPECT_EQ(sys.FileNameKey(""), "");
  // A NUL inside a name does not cut the key short.
  EXPECT_NE(sys.FileNameKey(std::string("a\0b", 3)), sys.FileNameKey(std::string("a\0c", 3)));
  EXPECT_EQ(sys.FileNameKey(std::string("A\0B", 3)), std::string("a\0b", 3));
  // Invalid UTF-8 still gives a key (with U+FFFD), and equal bytes give equal keys.
  std::string bad = "A\xFF\xFE.txt";
  EXPECT_EQ(sys.FileNameKey(bad), sys.FileNameKey("a\xFF\xFE.TXT"));
  EXPECT_NE(sys.FileNameKey(bad).find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(LinuxSystemTest, DecodesGbkAndMarksEachBadByte) {
  TLinuxSystem sys;
  struct TCase {
    std::string In, Out;
  };
  const TCase cases[] = {
      {"", ""},
      {"plain ASCII", "plain ASCII"},
      {"\xC3\xFB\xB3\xC6=\xBB\xFA\xCE\xBB\xCD\xBC", "名称=机位图"},
      {"\x80", "€"},                                    // code page 936's euro sign
      {std::string("a\0b", 3), std::string("a\0b", 3)}, // NUL survives
      {"\xFF"
       "A",
       "\xEF\xBF\xBD"
       "A"},                              // no character starts with 0xFF
      {"\xD6\xD0\xCE", "中\xEF\xBF\xBD"}, // cut off at the end
  };
  for (const auto& c : cases) EXPECT_EQ(sys.DecodeGbk(c.In), c.Out) << c.In;
}

TEST(LinuxSystemTest, FoldersAreAbsoluteAndEndWithSlash) {
  TLinuxSystem sys;
  for (const std::string& f : {sys.ExeFolder(), sys.TempFolder()}) {
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f.front(), '/') << f;
    EXPECT_EQ(f.back(), '/') << f;
    EXPECT_TRUE(std::filesystem::is_directory(f)) << f;
  }
  auto self = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(sys.ExeFolder(), self.parent_path().string() + "/");
}

TEST(LinuxSystemTest, TempFolderFollowsTmpdirToItsRealPath) {
  TLinuxSystem sys;
  auto base = std::filesystem::temp_directory_path() / ("hb-tmpdir-" + std::to_string(getpid()));
  std::filesystem::create_directories(base / "real");
  std::filesystem::create_directory_symlink(base / "real", base / "link");
  {
    ScopedEnv tmp("TMPDIR", (base / "link").c_str());
    EXPECT_EQ(sys.TempFolder(), std::filesystem::canonical(base / "real").string() + "/");
  }
  {
    ScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(sys.TempFolder(), std::filesystem::canonical("/tmp").string() + "/");
  }
  std::filesystem::remove_all(base);
}

TEST(LinuxSystemTest, LocalAppDataPrefersLocalAppDataThenXdgThenHome) {
  TLinuxSystem sys;
  ScopedEnv home("HOME", "/home/shop");
  {
    ScopedEnv a("LOCALAPPDATA", "/srv/appdata");
    ScopedEnv x("XDG_DATA_HOME", "/xdg");
    EXPECT_EQ(sys.LocalAppData(), "/srv/appdata");
  }
  {
    ScopedEnv a("LOCALAPPDATA", nullptr);
    ScopedEnv x("XDG_DATA_HOME", "/xdg");
    EXPECT_EQ(sys.LocalAppData(), "/xdg");
  }
  {
    ScopedEnv a("LOCALAPPDATA", nullptr);
    ScopedEnv x("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(sys.LocalAppData(), "/home/shop/.local/share");
  }
  {
    ScopedEnv a("LOCALAPPDATA", "relative/appdata"); // never a relative folder
    ScopedEnv x("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(sys.LocalAppData(), "/home/shop/.local/share");
  }
}

TEST(LinuxSystemTest, ClocksMoveForward) {
  TLinuxSystem sys;
  uint64_t t0 = sys.TickCount64();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(sys.TickCount64() - t0, 20u);
  // 2024-01-01 or later, and near the C library's clock.
  EXPECT_GT(sys.UtcNowUnixMs(), 1704067200000LL);
  EXPECT_LT(std::llabs(sys.UtcNowUnixMs() / 1000 - static_cast<long long>(time(nullptr))), 2);
  TLocalTime t = sys.LocalNow();
  EXPECT_GE(t.Year, 2024);
  EXPECT_TRUE(t.Month >= 1 && t.Month <= 12 && t.Day >= 1 && t.Day <= 31);
  EXPECT_EQ(sys.ProcessId(), static_cast<uint32_t>(getpid()));
}

TEST(LinuxSystemTest, KeepAwakeReachesTheHookWhenSet) {
  TLinuxSystem sys;
  sys.KeepAwake(true); // no hook: nothing happens
  std::vector<bool> calls;
  sys.OnKeepAwake = [&calls](bool on) { calls.push_back(on); };
  sys.KeepAwake(true);
  sys.KeepAwake(false);
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

TEST(LinuxSystemTest, LaunchInstallerRunsTheScriptDetached) {
  TLinuxSystem sys;
  auto dir = std::filesystem::temp_directory_path() / ("hb-launch-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string script = (dir / "install it.sh").string(); // a space in the path
  std::string out = (dir / "out.txt").string();
  {
    std::ofstream f(script);
    // Reports whether it left our session and whether its stdin is /dev/null.
    f << "sid=$(ps -o sid= -p $$ | tr -d ' ')\n"
      << "[ \"$sid\" != " << getsid(0) << " ] && echo own-session > '" << out << ".tmp'\n"
      << "[ \"$(readlink /proc/$$/fd/0)\" = /dev/null ] && echo null-stdin >> '" << out << ".tmp'\n"
      << "mv '" << out << ".tmp' '" << out << "'\n";
  }
  ASSERT_TRUE(sys.LaunchInstaller(script));
  for (int i = 0; i < 500 && !std::filesystem::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream result(out);
  std::string text((std::istreambuf_iterator<char>(result)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "own-session\nnull-stdin\n");
  std::filesystem::remove_all(dir);

  EXPECT_FALSE(sys.LaunchInstaller(""));
}

// Under a systemd service (INVOCATION_ID set) the installer gets a scope of its own, so the
// service's end does not take it along; elsewhere, or without systemd-run, it runs plainly.
TEST(LinuxSystemTest, InstallerLeavesTheServiceControlGroup) {
  auto dir = std::filesystem::temp_directory_path() / ("hb-run-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string run = (dir / "systemd-run").string();
  std::ofstream(run) << "#!/bin/sh\n";
  std::filesystem::permissions(run, std::filesystem::perms::owner_all);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  const std::string oldId = std::getenv("INVOCATION_ID") ? std::getenv("INVOCATION_ID") : "";
  const bool hadId = std::getenv("INVOCATION_ID") != nullptr;
  const std::string script = "/tmp/a b/HallBoard-install-1.sh";
  struct TCase {
    const char* id;
    std::string path;
    std::vector<std::string> want;
  } cases[] = {
      {"0123abcd",
       dir.string(),
       {run, "--user", "--scope", "--quiet", "--collect", "--", "/bin/sh", script}},
      {nullptr, dir.string(), {"/bin/sh", script}},
      {"0123abcd", "/nonexistent", {"/bin/sh", script}},
  };
  for (const TCase& c : cases) {
    setenv("PATH", c.path.c_str(), 1);
    if (c.id)
      setenv("INVOCATION_ID", c.id, 1);
    else
      unsetenv("INVOCATION_ID");
    EXPECT_EQ(InstallerCommand(script), c.want) << (c.id ? c.id : "none") << " " << c.path;
  }
  setenv("PATH", oldPath.c_str(), 1);
  if (hadId)
    setenv("INVOCATION_ID", oldId.c_str(), 1);
  else
    unsetenv("INVOCATION_ID");
  std::filesystem::remove_all(dir);
}

TEST(LinuxSystemTest, AFileIsLockedElsewhereOnlyWhileAnotherProcessHoldsItsExclusiveLock) {
  char tmpl[] = "/tmp/hb-lock-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::filesystem::path dir = tmpl;
  const std::string file = (dir / "installer.lock").string();
  EXPECT_FALSE(FileFlockedElsewhere(file)) << "a missing file";
  std::ofstream(file).put('x');
  EXPECT_FALSE(FileFlockedElsewhere(file)) << "nobody holds it";

  // The lock as the sh installer takes it (flock(1) on an inherited descriptor), and as .NET
  // takes it for FileShare.None: an exclusive flock. A shared one is no installer's.
  struct TCase {
    const char* Command;
    bool Held;
  };
  const TCase cases[] = {
      {"exec 9>\"$0\"; flock -n 9 && echo locked && exec sleep 300", true},
      {"exec 9>\"$0\"; flock -s -n 9 && echo locked && exec sleep 300", false},
  };
  for (const TCase& c : cases) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
      dup2(out[1], 1);
      close(out[0]);
      execl("/bin/sh", "sh", "-c", c.Command, file.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char said[8] = {};
    ASSERT_GT(read(out[0], said, sizeof said - 1), 0) << c.Command; // waits for the lock
    close(out[0]);
    EXPECT_EQ(FileFlockedElsewhere(file), c.Held) << c.Command;
    // The lock goes with its process, killed or not.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(FileFlockedElsewhere(file)) << c.Command << ": after the kill";
  }
  std::filesystem::remove_all(dir);
}

} // namespace
} // namespace hb
