#pragma once
// The gateway resource cache: the page's pictures, catalogue version and seat-map media are
// answered from the store gateway's "/cache?u=" relay when it can serve them. Whatever goes
// wrong, the request simply continues to the cloud; the cache never makes a page fail and never
// reports anything.
//
// Threads: InstallGatewayCache, Invoke and the response step run on the user-interface thread.
// Each intercepted request gets one detached fetch thread that hands its result back through
// IUiQueue. The queue and the system port must stay valid until StopGatewayCache has returned.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "IBrowser.h"
#include "IHttpClient.h"
#include "ISystem.h"
#include "IUiQueue.h"

namespace hb {

struct TGatewayCachePorts {
  IUiQueue* Queue = nullptr;
  THttpClientFactory NewHttp;
  ISystem* System = nullptr;
};

// Largest body taken from the gateway: every resource, and seat-map media.
constexpr int64_t kCacheBodyLimit = 12 * 1024 * 1024;
constexpr int64_t kSeatMapBodyLimit = 32 * 1024 * 1024;

// Bytes that the bodies of all fetches in flight may hold together. A request that arrives with
// the budget spent, or whose body would overspend it, goes to the cloud as during a pause: a
// gateway that answers every picture with the largest body cannot bloat the program.
constexpr int64_t kCacheMemoryBudget = 64 * 1024 * 1024;
// Freeing a body at least this large gives the memory back to the system (ISystem::TrimMemory).
constexpr int64_t kCacheTrimAfterBytes = 1024 * 1024;

// Gateway relay time-outs in milliseconds.
constexpr int kCacheConnectTimeoutMs = 1500;
constexpr int kCacheResponseTimeoutMs = 25000;
constexpr int kCatalogResponseTimeoutMs = 7000;
constexpr int kSeatMapResponseTimeoutMs = 90000;

// Pauses after certain gateway answers, in milliseconds.
constexpr uint64_t kPauseBusyMs = 30000;        // status 429
constexpr uint64_t kPauseNoFunctionMs = 600000; // 404 saying "接口不存在"
constexpr uint64_t kPauseUnreachableMs = 60000; // no connection, name not resolved, time-out

constexpr const char* kCacheUserAgent = "RIDera WebCache";
constexpr const char* kCatalogPrefix = "/shop/catalog-version?NetBarId=";

// The cache is paused while ISystem::TickCount64() is below this value. Written whole by fetch
// threads, read by the user-interface thread; the last writer wins, even if it shortens a pause.
extern std::atomic<uint64_t> BlockedUntil;

// Pure tests of a path-and-query text (beginning with "/").
bool IsSeatMapMedia(std::string_view path);
bool IsCacheablePath(std::string_view path);
// The Content-Type given to the browser: textual types get "; charset=utf-8" in place of any
// parameter the gateway sent; every other value is kept (trimmed).
std::string NormalizeContentType(std::string_view value);

// The resource-requested handler of one hooked web view.
class TGatewayCacheHandler {
 public:
  // server and gateway are taken as given (InstallGatewayCache trims them).
  TGatewayCacheHandler(std::string server, std::string gateway, TGatewayCachePorts ports);

  // Decides on the user-interface thread. Requests that are not GET, not under the cloud
  // address, not cacheable, partial (Range) or arrive during a pause are left alone at once;
  // the rest are deferred and fetched on their own thread. Never throws.
  void Invoke(std::shared_ptr<IResourceRequest> request);

  const std::string& Server() const { return FServer; }
  const std::string& Gateway() const { return FGateway; }

 private:
  std::string FServer;
  std::string FGateway;
  TGatewayCachePorts FPorts;
};

// Attaches the cache to the browser's current web view: ten filters and one handler, at most
// once per web view. Does nothing without a web view or with an empty address. Never throws.
void InstallGatewayCache(IBrowser& browser, const std::string& server,
                         const std::string& gatewayBase, const TGatewayCachePorts& ports);
// A web view that is gone (its browser process ended) leaves the hooked list, so that a new web
// view which happens to get the same identity is hooked again.
void ForgetHookedWebView(const void* webView);

// Bytes held by bodies of fetches in flight (fetched, or fetched and not yet handed over), and
// by answers a browser adapter holds on their way into the browser.
int64_t GatewayCacheBytesHeld();
// For browser adapters: an answer made from a body (encoded for the browser, waiting for its
// pipe) counts against the budget like the body did, until the browser has taken it or it is
// dropped (delta positive when made, the same negative when gone). A browser that takes answers
// more slowly than the gateway gives them then makes the cache step aside instead of piling the
// answers up in the program.
void CountGatewayCacheAnswerBytes(int64_t delta);
// Tests and benchmarks only: another budget (0: back to kCacheMemoryBudget).
void SetGatewayCacheBudgetForTests(int64_t bytes);

// Fetch threads started and not yet finished (for tests and orderly shutdown checks).
int GatewayFetchesInFlight();

// For the shell once its window is closing, before it frees the queue or the system port given
// to InstallGatewayCache: when this returns, no fetch thread touches either again, no request is
// taken any more, and the requests still being fetched are released without an answer (their
// threads end by themselves at the latest with their time-outs).
void StopGatewayCache();
// Tests only: take requests again after StopGatewayCache.
void RestartGatewayCacheForTests();

} // namespace hb
