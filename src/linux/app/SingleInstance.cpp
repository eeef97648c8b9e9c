#include "SingleInstance.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "UiGuard.h"

namespace hb::lin {
namespace {

constexpr const char* kLockName = "hallBoard.lock";
constexpr const char* kSocketName = "hallBoard.sock";
constexpr size_t kMaxCommand = 64 * 1024;

bool PrivateFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  return true;
}

// One connected client: reads a line, hands it on, writes the answer, closes. Until its line is
// whole it belongs to its own sources; one that keeps quiet is closed by its idle timer.
struct TClient {
  int Fd = -1;
  unsigned Source = 0;
  unsigned Idle = 0;
  std::string In;
  bool Answered = false;
  TSingleInstance::TCommandProc Proc;
  ~TClient() {
    if (Source) g_source_remove(Source);
    if (Idle) g_source_remove(Idle);
    if (Fd >= 0) close(Fd);
  }
};

int ClientIdle(void* p) {
  auto* client = static_cast<TClient*>(p);
  client->Idle = 0; // this source ends with the return below
  delete client;
  return G_SOURCE_REMOVE;
}

void WriteAll(int fd, const std::string& text) {
  size_t pos = 0;
  while (pos < text.size()) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 2000) <= 0) return; // a client that does not read is given up on
    ssize_t n = send(fd, text.data() + pos, text.size() - pos, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    pos += static_cast<size_t>(n);
  }
}

int ClientReady(int fd, unsigned, void* p) {
  auto* client = static_cast<TClient*>(p);
  char buf[4096];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return G_SOURCE_CONTINUE;
  if (n > 0) client->In.append(buf, static_cast<size_t>(n));
  size_t nl = client->In.find('\n');
  bool ended = n <= 0 || client->In.size() > kMaxCommand;
  if (nl == std::string::npos && !ended) return G_SOURCE_CONTINUE;
  client->Source = 0;
  if (client->Idle) {
    g_source_remove(client->Idle);
    client->Idle = 0;
  }
  std::string line = client->In.substr(0, nl == std::string::npos ? client->In.size() : nl);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // The client lives until it is answered (the answer may come later, from the browser).
  std::shared_ptr<TClient> owner(client);
  auto reply = [owner](const std::string& text) {
    if (owner->Answered) return;
    owner->Answered = true;
    WriteAll(owner->Fd, text + "\n");
    shutdown(owner->Fd, SHUT_RDWR);
  };
  if (client->In.size() > kMaxCommand)
    reply("error: command too long");
  else if (client->Proc)
    Guarded([&] { client->Proc(line, reply); });
  // A command left unanswered is closed when the last copy of reply goes, which the asker
  // reads as an empty answer.
  return G_SOURCE_REMOVE;
}

} // namespace

std::string RuntimeFolder() {
  const char* xdg = g_getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg && PrivateFolder(xdg)) {
    std::string f = xdg;
    return f.back() == '/' ? f : f + "/";
  }
  std::string f = "/tmp/hallBoard-" + std::to_string(geteuid());
  if (mkdir(f.c_str(), 0700) != 0 && errno != EEXIST) return {};
  // Someone else's folder (or a link planted in /tmp) is never used.
  if (!PrivateFolder(f)) return {};
  return f + "/";
}

std::string SendToRunningInstance(const std::string& folder, const std::string& command,
                                  int timeoutMs) {
  sockaddr_un addr;
  if (!FillAddress(folder + kSocketName, addr)) return {};
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    WriteAll(fd, command + "\n");
    char buf[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      answer.append(buf, static_cast<size_t>(n));
      if (answer.find('\n') != std::string::npos) break;
    }
  }
  close(fd);
  size_t nl = answer.find('\n');
  return nl == std::string::npos ? answer : answer.substr(0, nl);
}

TSingleInstance::~TSingleInstance() {
  if (FSource) g_source_remove(FSource);
  if (FResume) g_source_remove(FResume);
  if (FListenFd >= 0) {
    close(FListenFd);
    unlink(FSocketPath.c_str());
  }
  if (FLockFd >= 0) close(FLockFd); // releases the lock; the system does so on any exit too
}

bool TSingleInstance::Acquire(const std::string& folder) {
  if (folder.empty()) return true;
  std::string lockPath = folder + kLockName;
  FLockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (FLockFd < 0) return true;
  if (flock(FLockFd, LOCK_EX | LOCK_NB) == 0) {
    FSocketPath = folder + kSocketName;
    return true;
  }
  close(FLockFd);
  FLockFd = -1;
  if (errno != EWOULDBLOCK) return true; // locks unsupported here: run unprotected
  SendToRunningInstance(folder, "wake", 2000);
  return false;
}

void TSingleInstance::Listen(TCommandProc proc, int idleTimeoutMs) {
  FProc = std::move(proc);
  FIdleTimeoutMs = idleTimeoutMs > 0 ? idleTimeoutMs : kIdleTimeoutMs;
  if (FSocketPath.empty()) return;
  sockaddr_un addr;
  if (!FillAddress(FSocketPath, addr)) return;
  // We hold the lock, so a socket file left here belongs to an instance that has ended.
  unlink(FSocketPath.c_str());
  FListenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (FListenFd < 0) return;
  if (bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(FListenFd, 8) != 0) {
    close(FListenFd);
    FListenFd = -1;
    return;
  }
  chmod(FSocketPath.c_str(), 0600);
  Watch();
}

void TSingleInstance::Watch() {
  FSource = g_unix_fd_add(FListenFd, G_IO_IN,
                          reinterpret_cast<GUnixFDSourceFunc>(&TSingleInstance::Accept), this);
}

int TSingleInstance::ResumeAccept(void* p) {
  auto* self = static_cast<TSingleInstance*>(p);
  self->FResume = 0;
  self->Watch();
  return G_SOURCE_REMOVE;
}

int TSingleInstance::Accept(int fd, unsigned, void* p) {
  auto* self = static_cast<TSingleInstance*>(p);
  int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (c < 0) {
    if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) return G_SOURCE_CONTINUE;
    // Out of descriptors or memory: the connection stays queued and the socket stays readable,
    // so watching on would call this again at once, for ever, on the user-interface thread.
    // Stop watching and look again after a pause that doubles while the failure lasts.
    ++self->FAcceptFailures;
    self->FAcceptPauseMs =
        self->FAcceptPauseMs == 0 ? 100 : std::min(self->FAcceptPauseMs * 2, kMaxAcceptPauseMs);
    self->FSource = 0;
    self->FResume = g_timeout_add(static_cast<unsigned>(self->FAcceptPauseMs),
                                  &TSingleInstance::ResumeAccept, self);
    return G_SOURCE_REMOVE;
  }
  self->FAcceptPauseMs = 0;
  auto* client = new TClient;
  client->Fd = c;
  client->Proc = self->FProc;
  client->Source = g_unix_fd_add(c, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                 reinterpret_cast<GUnixFDSourceFunc>(&ClientReady), client);
  // A client that connects and never sends its line would hold a descriptor for ever.
  client->Idle = g_timeout_add(static_cast<unsigned>(self->FIdleTimeoutMs), &ClientIdle, client);
  return G_SOURCE_CONTINUE;
}

} // namespace hb::lin
