#include "ServerSlot.h"

#include <httplib.h>

#include <sys/socket.h>

#include <cstdio>
#include <memory>

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

bool TServerSlot::StartLocked(int port) {
  if (FRunning) return true;
  auto server = std::make_unique<httplib::Server>();
  server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server->set_keep_alive_timeout(2);
  server->set_payload_max_length(4 << 20);
  auto listenFd = std::make_shared<int>(-1);
  server->set_socket_options([listenFd](socket_t sock) {
    httplib::default_socket_options(sock);
    *listenFd = sock;
  });
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
  // The library listens with a backlog of 5. A page that asks for its forty pictures at once (or
  // a test with two hundred requests) overflows that, and the kernel then drops the handshakes'
  // last step and retries it seconds apart, doubling each time: on a busy machine a request can
  // wait a minute before the server even sees it. Listening again on the bound socket raises it.
  if (*listenFd >= 0) ::listen(*listenFd, SOMAXCONN);
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
