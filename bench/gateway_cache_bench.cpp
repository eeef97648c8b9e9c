// The gateway cache sees every resource request of the page on the user-interface thread, so its
// decision must stay near the cost of merely reading the request's address. Measured in one run:
//  - UriCopy: reading the address (one string copy), the floor any handler pays;
//  - Invoke on requests it leaves alone (another host, a page path, a POST, a paused cache);
//  - the path tests alone on typical and worst-case paths.
#include <benchmark/benchmark.h>

#include <memory>

#include "LinuxSystem.h"
#include "shell/GatewayCache.h"

namespace {

const std::string kServer = "http://cloud.example.com";

class TBenchRequest : public hb::IResourceRequest {
 public:
  TBenchRequest(std::string uri, std::string method) : FUri(std::move(uri)), FMethod(method) {}
  std::string Uri() override { return FUri; }
  std::string Method() override { return FMethod; }
  bool HasHeader(const std::string&) override { return false; }
  bool Defer() override { return false; } // never reached by the early exits below
  bool SetResponse(int, const std::string&, const std::string&, std::string) override {
    return false;
  }
  void Complete() override {}

 private:
  std::string FUri;
  std::string FMethod;
};

class TNullQueue : public hb::IUiQueue {
 public:
  void Post(std::function<void()>) override {}
};

void UriCopy(benchmark::State& state) {
  auto req = std::make_shared<TBenchRequest>(kServer + "/seatmap/display?NetBarId=1001", "GET");
  for (auto _ : state) benchmark::DoNotOptimize(req->Uri());
}
BENCHMARK(UriCopy);

void InvokeLeftAlone(benchmark::State& state, std::string uri, std::string method, bool paused) {
  static hb::TLinuxSystem system;
  static TNullQueue queue;
  hb::TGatewayCacheHandler handler(
      kServer, "http://127.0.0.1:58001",
      {&queue, [] { return std::unique_ptr<hb::IHttpClient>(); }, &system});
  auto req = std::make_shared<TBenchRequest>(uri, method);
  hb::BlockedUntil = paused ? ~0ull : 0;
  for (auto _ : state) handler.Invoke(req);
  hb::BlockedUntil = 0;
}
BENCHMARK_CAPTURE(InvokeLeftAlone, other_host, "http://cdn.example.net/assets/a.png", "GET", false);
BENCHMARK_CAPTURE(InvokeLeftAlone, page_path, kServer + "/seatmap/display?NetBarId=1001", "GET",
                  false);
BENCHMARK_CAPTURE(InvokeLeftAlone, post, kServer + "/assets/a.png", "POST", false);
BENCHMARK_CAPTURE(InvokeLeftAlone, paused, kServer + "/assets/a.png", "GET", true);

void PathTest(benchmark::State& state, std::string path) {
  for (auto _ : state) benchmark::DoNotOptimize(hb::IsCacheablePath(path));
}
BENCHMARK_CAPTURE(PathTest, asset, std::string("/assets/js/app.3f9c1a.js?v=20251210"));
BENCHMARK_CAPTURE(PathTest, seat_map_media,
                  std::string("/seatmap/5f2c8a91d04b4e7c9a3e61b0f7d2c845/img/"
                              "0a1b2c3d4e5f60718293.webp"));
BENCHMARK_CAPTURE(PathTest, catalog, std::string("/shop/catalog-version?NetBarId=1001"));
BENCHMARK_CAPTURE(PathTest, longest, "/assets/" + std::string(504, 'a'));

} // namespace

BENCHMARK_MAIN();
