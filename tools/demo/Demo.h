#pragma once
// hallboard-demo: a store gateway and a cloud service on loopback, with fault switches, for the
// demo, the tests and the benchmarks.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DemoState.h"
#include "ServerSlot.h"

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace hb::demo {

struct TDemoOptions {
  int GatewayPort = 0;
  int CloudPort = 0;
  std::string StoreName = "演示网吧";
  std::string NetBarId = "1001";
  std::string ReleasePath;
  int64_t ReleaseVersionCode = 0;
  std::string ReleaseVersion;
  std::vector<std::pair<std::string, std::string>> Faults;
};

// What the gateway's cache holds of one cloud answer.
struct TCachedAnswer {
  std::string ContentType;
  std::string CacheControl;
  std::string Body;
};

class TDemo {
 public:
  explicit TDemo(TDemoOptions options);
  // Applies the start-up faults and release, then binds both servers; false with a message on
  // stderr when something is wrong.
  bool Start();
  // Brings the "down" switches and the servers' listening state in line (the main loop calls it).
  void Reconcile();
  void Stop();
  int GatewayPort() const { return FGateway.Port(); }
  int CloudPort() const { return FCloud.Port(); }

  // Shared by the route files.
  TFaults Faults;
  TStats GatewayStats, CloudStats;
  TReleaseSlot Release;
  const TDemoOptions& Options() const { return FOptions; }
  bool Stopping() const { return FStop.load(); }
  // Waits while the switch keeps its value, up to maxMs, ending early when the demo or the
  // serving slot stops. Hanging handlers use it so that the demo always exits promptly.
  void HoldWhile(const TServerSlot& slot, const std::string& fault, const std::string& value,
                 int maxMs) const;
  TServerSlot& GatewaySlot() { return FGateway; }
  TServerSlot& CloudSlot() { return FCloud; }

  // A cloud route as seen over the store's internet line: the answer waits the line's latency,
  // its body goes out at the line's rate, and its bytes are counted.
  using THandler = std::function<void(const httplib::Request&, httplib::Response&)>;
  THandler OverLine(THandler handler);

  // The gateway's cache, in memory: answers kept by their path and query.
  bool CacheLookup(const std::string& pathQuery, TCachedAnswer& out) const;
  void CacheStore(const std::string& pathQuery, TCachedAnswer answer);
  void CacheClear();

  // Timings the display page reports about itself (newest last, capped).
  void AddReport(const std::string& json);
  std::string Reports() const;

 private:
  void AddCommonRoutes(httplib::Server& server, TServerSlot& slot, TStats& stats);
  void AddCloudRoutes(httplib::Server& server);
  void AddGatewayRoutes(httplib::Server& server);
  void AddUpdateRoutes(httplib::Server& server);
  void HandleFault(const httplib::Request& req, httplib::Response& res, TServerSlot& self);
  // Sleeps ms, ending early when the demo or the cloud stops.
  void LineWait(std::chrono::steady_clock::time_point until) const;
  // Reserves the line for `bytes` at `kbps` behind whatever is already queued on it and waits
  // for that turn: every connection shares the one line.
  void LineSend(size_t bytes, int64_t kbps);

  TDemoOptions FOptions;
  std::atomic<bool> FStop{false};
  TServerSlot FGateway;
  TServerSlot FCloud;

  std::mutex FLineMutex;
  std::chrono::steady_clock::time_point FLineFree{}; // when the line has sent what is queued

  mutable std::mutex FCacheMutex;
  std::map<std::string, TCachedAnswer> FCache;

  mutable std::mutex FReportMutex;
  std::deque<std::string> FReports;
};

} // namespace hb::demo
