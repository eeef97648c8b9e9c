#include "SingleInstance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace hb::lin {
namespace {

std::string TempFolder() {
  char tmpl[] = "/tmp/hb-single-XXXXXX";
  std::string f = mkdtemp(tmpl);
  return f + "/";
}

// A second process, as a second start of the program would be: true when it may run.
bool AcquireInChild(const std::string& folder) {
  pid_t pid = fork();
  if (pid == 0) {
    TSingleInstance other;
    _exit(other.Acquire(folder) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SingleInstance, ASecondStartWakesTheFirstAndEnds) {
  std::string folder = TempFolder();
  std::vector<std::string> commands;
  {
    TSingleInstance first;
    ASSERT_TRUE(first.Acquire(folder));
    first.Listen([&](const std::string& c, std::function<void(const std::string&)> reply) {
      commands.push_back(c);
      reply("ok");
    });
    // The child's wake-up is answered by this loop, so spin it while the child runs.
    std::atomic<int> result{-1};
    std::thread t([&] { result = AcquireInChild(folder) ? 1 : 0; });
    while (result < 0) g_main_context_iteration(nullptr, FALSE);
    t.join();
    EXPECT_EQ(result, 0);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], "wake");
  }
  // Once the first has ended the next start is the only one again.
  EXPECT_TRUE(AcquireInChild(folder));
  std::filesystem::remove_all(folder);
}

TEST(SingleInstance, CommandsAreAnsweredLaterAndOverlongOnesRefused) {
  std::string folder = TempFolder();
  TSingleInstance first;
  ASSERT_TRUE(first.Acquire(folder));
  std::function<void(const std::string&)> pending;
  first.Listen([&](const std::string& c, std::function<void(const std::string&)> reply) {
    if (c == "later")
      pending = reply;
    else
      reply("echo " + c);
  });
  std::string a, b, c;
  std::atomic<bool> done{false};
  std::thread t([&] {
    a = SendToRunningInstance(folder, "hello");
    b = SendToRunningInstance(folder, "later");
    c = SendToRunningInstance(folder, std::string(70000, 'x'));
    done = true;
  });
  while (!done) {
    g_main_context_iteration(nullptr, FALSE);
    if (pending) {
      pending("answered");
      pending = nullptr;
    }
  }
  t.join();
  EXPECT_EQ(a, "echo hello");
  EXPECT_EQ(b, "answered");
  EXPECT_EQ(c, "error: command too long");
  std::filesystem::remove_all(folder);
}

TEST(SingleInstance, NoInstanceMeansNoAnswerAndAForeignFolderIsNotUsed) {
  std::string folder = TempFolder();
  EXPECT_EQ(SendToRunningInstance(folder, "wake", 500), "");
  // A runtime folder others can read is not trusted; the private fallback is used instead.
  chmod(folder.c_str(), 0755);
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  std::string chosen = RuntimeFolder();
  EXPECT_NE(chosen, folder);
  EXPECT_EQ(chosen, "/tmp/hallBoard-" + std::to_string(geteuid()) + "/");
  unsetenv("XDG_RUNTIME_DIR");
  std::filesystem::remove_all(folder);
}

} // namespace
} // namespace hb::lin
