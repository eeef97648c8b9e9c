#pragma once
// One demo server on a fixed loopback port that can be taken down and brought back on the same
// port (the "down" faults: the port must refuse connections, not merely answer errors).
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace hb::demo {

class TServerSlot {
 public:
  using TRoutes = std::function<void(httplib::Server&)>;
  TServerSlot(std::string name, TRoutes routes);
  ~TServerSlot();

  // Binds 127.0.0.1:port (0 on the first start picks a free port) and serves on a thread.
  // Later starts reuse the port first bound.
  bool Start(int port);
  // Stops listening and waits for every handler to end (handlers poll Stopping()).
  void Stop();
  // Starts or stops as wanted. Decided under the same lock as Start and Stop, so a call made
  // while a stop is still finishing waits for it and then starts again.
  void Want(bool up);
  bool Running() const { return FRunning.load(); }
  bool Stopping() const { return FStopping.load(); }
  int Port() const { return FPort.load(); }
  const std::string& Name() const { return FName; }

 private:
  bool StartLocked(int port);
  void StopLocked();

  std::string FName;
  TRoutes FRoutes;
  std::mutex FMutex; // serialises Start and Stop
  std::unique_ptr<httplib::Server> FServer;
  std::thread FThread;
  std::atomic<bool> FRunning{false};
  std::atomic<bool> FStopping{false};
  std::atomic<int> FPort{0};
};

} // namespace hb::demo
