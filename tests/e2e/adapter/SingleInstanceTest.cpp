#include "SingleInstance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// Connects to the socket; -1 when that fails.
int Connect(const std::string& folder) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = folder + "hallBoard.sock";
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// True when the peer closes the connection (within a generous bound, so a loaded machine only
// makes the test slower, never wrong).
bool ClosedByPeer(int fd) {
  char buf[64];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 30000) <= 0) return false;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0) return true;
    if (n < 0 && errno != EINTR) return true;
  }
}

// A client that connects and never finishes its line is closed by the idle timer; the others are
// answered as before.
TEST(SingleInstance, IdleClientsAreClosed) {
  std::string folder = TempFolder();
  TSingleInstance first;
  ASSERT_TRUE(first.Acquire(folder));
  int commands = 0;
  first.Listen(
      [&](const std::string& c, std::function<void(const std::string&)> reply) {
        ++commands;
        reply("echo " + c);
      },
      200);
  std::atomic<bool> done{false};
  bool silentClosed = false, partialClosed = false;
  std::string answer;
  std::thread t([&] {
    int silent = Connect(folder);
    int partial = Connect(folder);
    if (partial >= 0) send(partial, "wa", 2, MSG_NOSIGNAL);
    silentClosed = silent >= 0 && ClosedByPeer(silent);
    partialClosed = partial >= 0 && ClosedByPeer(partial);
    answer = SendToRunningInstance(folder, "hello");
    if (silent >= 0) close(silent);
    if (partial >= 0) close(partial);
    done = true;
  });
  while (!done) g_main_context_iteration(nullptr, FALSE);
  t.join();
  EXPECT_TRUE(silentClosed);
  EXPECT_TRUE(partialClosed);
  EXPECT_EQ(answer, "echo hello");
  EXPECT_EQ(commands, 1); // the cut-off ones were never taken for commands
  std::filesystem::remove_all(folder);
}

// Out of descriptors, accept fails while the connection stays queued: the listener pauses
// instead of being called again at once, and takes the connection once descriptors are back.
TEST(SingleInstance, AcceptFailureBacksOffAndRecovers) {
  std::string folder = TempFolder();
  TSingleInstance first;
  ASSERT_TRUE(first.Acquire(folder));
  first.Listen([&](const std::string& c, std::function<void(const std::string&)> reply) {
    reply("echo " + c);
  });
  int client = Connect(folder);
  ASSERT_GE(client, 0);
  ASSERT_EQ(send(client, "wake\n", 5, MSG_NOSIGNAL), 5);

  // No descriptor above the ones open now can be made.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  int next = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(next, 0);
  close(next);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(next);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  // Without a pause every one of these turns would call accept again.
  for (int i = 0; i < 2000; ++i) g_main_context_iteration(nullptr, FALSE);
  const int failures = first.AcceptFailures();
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_GE(failures, 1);
  EXPECT_LE(failures, 20);

  // With descriptors back, the queued client is answered after the pause.
  std::string answer;
  std::atomic<bool> done{false};
  std::thread t([&] {
    char buf[64];
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, 30000) > 0) {
      ssize_t n = recv(client, buf, sizeof buf, 0);
      if (n > 0) answer.assign(buf, static_cast<size_t>(n));
    }
    done = true;
  });
  while (!done) g_main_context_iteration(nullptr, FALSE);
  t.join();
  close(client);
  EXPECT_EQ(answer, "echo wake\n");
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
