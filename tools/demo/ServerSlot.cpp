#include "ServerSlot.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>

namespace hb::demo {

// Hanging and stalling handlers each hold a worker while they wait, so the pool is generous.
static constexpr size_t kWorkers = 64;

TServerSlot::TServerSlot(std::string name, TRoutes routes)
    : FName(std::move(name)), FRoutes(std::move(routes)) {}

TServerSlot::~TServerSlot() {
  Stop();
}

bool TServerSlot::Start(int port) {
  std::lock_guard<std::mutex> lock(FMutex);
  return StartLocked(port);
}

void TServerSlot::Stop() {
  std::lock_guard<std::mutex> lock(FMutex);
  StopLocked();
}

void TServerSlot::Want(bool up) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (up)
    StartLocked(0);
  else
    StopLocked();
}

// Debian's cpp-httplib is a compiled library that listens with a backlog of 5: a page asking a
// few dozen pictures at once overflows it, and every refused connection attempt costs the client
// a one-second SYN retry, which no real gateway would. listen() again on the bound socket (found
// among our descriptors by its port) raises the backlog.
static void RaiseBacklog(int port) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    int fd = std::atoi(e->d_name);
    if (fd <= 2 || fd == dirfd(dir)) continue;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    int accepting = 0;
    socklen_t alen = sizeof accepting;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        addr.sin_family != AF_INET || ntohs(addr.sin_port) != port)
      continue;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &alen) == 0 && accepting)
      listen(fd, 1024);
  }
  closedir(dir);
}

bool TServerSlot::StartLocked(int port) {
  if (FRunning) return true;
  auto server = std::make_unique<httplib::Server>();
  server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server->set_keep_alive_timeout(2);
  server->set_payload_max_length(4 << 20);
  FRoutes(*server);
  int wanted = FPort ? FPort.load() : port;
  int bound = wanted;
  if (wanted == 0) {
    bound = server->bind_to_any_port("127.0.0.1");
    if (bound <= 0) bound = 0;
  } else if (!server->bind_to_port("127.0.0.1", wanted)) {
    bound = 0;
  }
  if (bound == 0) {
    std::fprintf(stderr, "hallboard-demo: %s cannot listen on 127.0.0.1:%d\n", FName.c_str(),
                 wanted);
    return false;
  }
  RaiseBacklog(bound);
  FPort = bound;
  FStopping = false;
  FServer = std::move(server);
  FRunning = true;
  httplib::Server* raw = FServer.get();
  FThread = std::thread([raw] { raw->listen_after_bind(); });
  // stop() only takes effect once the loop runs, so wait for it before anyone may call Stop.
  for (int i = 0; i < 400 && !raw->is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return true;
}

void TServerSlot::StopLocked() {
  if (!FRunning) return;
  FStopping = true;
  FServer->stop();
  if (FThread.joinable()) FThread.join();
  FServer.reset();
  FRunning = false;
}

} // namespace hb::demo
