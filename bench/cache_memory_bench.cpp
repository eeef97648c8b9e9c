// Peak memory of the gateway cache under a hostile gateway: every picture is answered with the
// largest body the cache takes (12 MiB), every seat-map picture with 32 MiB. A page reload asks
// for many pictures at once; this runs several such reloads through the real handler, the real
// libcurl client and a loopback gateway, and prints the process's peak resident size and the
// resident size once the reloads are over.
//
//   cache_memory_bench [budgeted|unbounded] [reloads] [requests per reload]
//
// "unbounded" lifts the budget and keeps the memory that was freed (the behaviour without the
// budget), so bench/cache_memory.sh can set both side by side in the same run.
#include <httplib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "CurlHttpClient.h"
#include "LinuxSystem.h"
#include "shell/GatewayCache.h"

namespace {

const std::string kServer = "http://cloud.bench";
const std::string kHex32 = "0123456789abcdef0123456789abcdef";

// A request as the browser adapter sees it: the response body is copied once, then dropped.
class TBenchRequest : public hb::IResourceRequest {
 public:
  explicit TBenchRequest(std::string uri) : FUri(std::move(uri)) {}
  std::string Uri() override { return FUri; }
  std::string Method() override { return "GET"; }
  bool HasHeader(const std::string&) override { return false; }
  bool Defer() override { return true; }
  bool SetResponse(int, const std::string&, const std::string&, std::string body) override {
    std::string copy = body; // the adapter's own copy on its way to the browser
    Served += copy.size() > 0;
    return true;
  }
  void Complete() override { ++Done; }
  static inline std::atomic<int> Done{0};
  static inline std::atomic<int> Served{0};

 private:
  std::string FUri;
};

class TQueue : public hb::IUiQueue {
 public:
  void Post(std::function<void()> f) override {
    std::lock_guard<std::mutex> lock(FLock);
    FJobs.push_back(std::move(f));
  }
  void Drain() {
    for (;;) {
      std::function<void()> f;
      {
        std::lock_guard<std::mutex> lock(FLock);
        if (FJobs.empty()) return;
        f = std::move(FJobs.front());
        FJobs.pop_front();
      }
      f();
    }
  }

 private:
  std::mutex FLock;
  std::deque<std::function<void()>> FJobs;
};

// Keeps freed memory where the allocator put it.
class TNoTrimSystem : public hb::TLinuxSystem {
 public:
  void TrimMemory() override {}
};

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char** argv) {
  const bool unbounded = argc > 1 && std::string(argv[1]) == "unbounded";
  const int reloads = argc > 2 ? std::atoi(argv[2]) : 5;
  const int perReload = argc > 3 ? std::atoi(argv[3]) : 24;

  const std::string picture(hb::kCacheBodyLimit, 'p');
  const std::string media(hb::kSeatMapBodyLimit, 'm');
  httplib::Server gateway;
  gateway.new_task_queue = [] { return new httplib::ThreadPool(32); };
  gateway.Get("/cache", [&](const httplib::Request& req, httplib::Response& res) {
    // Served from the one copy, so the gateway's side adds nothing per answer.
    const std::string& body =
        req.get_param_value("u").find("/img/") != std::string::npos ? media : picture;
    res.set_content_provider(
        body.size(), "image/png", [&body](size_t offset, size_t length, httplib::DataSink& sink) {
          return sink.write(body.data() + offset, std::min<size_t>(length, 1 << 20));
        });
  });
  const int port = gateway.bind_to_any_port("127.0.0.1");
  std::thread serve([&] { gateway.listen_after_bind(); });
  while (!gateway.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  hb::TLinuxSystem trimming;
  TNoTrimSystem keeping;
  hb::ISystem& system = unbounded ? static_cast<hb::ISystem&>(keeping) : trimming;
  if (unbounded) hb::SetGatewayCacheBudgetForTests(int64_t{1} << 40);
  TQueue queue;
  hb::TGatewayCachePorts ports{&queue, [] { return std::make_unique<hb::TCurlHttpClient>(); },
                               &system};
  hb::TGatewayCacheHandler handler(kServer, "http://127.0.0.1:" + std::to_string(port), ports);
  system.TrimMemory(); // as attaching the cache to a web view does

  // The bytes the cache holds, sampled while the reloads run.
  std::atomic<bool> sampling{true};
  std::atomic<int64_t> heldPeak{0};
  std::thread sampler([&] {
    while (sampling) {
      heldPeak = std::max(heldPeak.load(), hb::GatewayCacheBytesHeld());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  for (int round = 0; round < reloads; ++round) {
    const int before = TBenchRequest::Done.load();
    for (int i = 0; i < perReload; ++i) {
      const std::string path =
          i % 6 == 0 ? "/seatmap/" + kHex32 + "/img/r" + std::to_string(round) + "x" +
                           std::to_string(i) + ".png"
                     : "/assets/r" + std::to_string(round) + "x" + std::to_string(i) + ".png";
      auto req = std::make_shared<TBenchRequest>(kServer + path);
      handler.Invoke(req);
      if (req.use_count() == 1) ++TBenchRequest::Done; // left to the cloud at once
    }
    // The user-interface thread answers requests as their bodies arrive.
    while (TBenchRequest::Done.load() - before < perReload) {
      queue.Drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  while (hb::GatewayFetchesInFlight() > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  queue.Drain();
  sampling = false;
  sampler.join();

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s: %d reloads x %d requests, %d served from the gateway, peak RSS %ld MiB, "
              "RSS after %ld MiB, bodies held at most %lld MiB\n",
              unbounded ? "unbounded" : "budgeted", reloads, perReload,
              TBenchRequest::Served.load(), usage.ru_maxrss / 1024, ResidentKiB() / 1024,
              static_cast<long long>(heldPeak.load() >> 20));
  gateway.stop();
  serve.join();
  return 0;
}
