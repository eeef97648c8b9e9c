// The demo cloud as seen over a store's internet line (latency and rate switches), the weight of
// its display page, and the demo gateway's cache held in memory: what the cache benchmark and the
// soak run stand on. Times are only checked from below (a delay can only make an answer later).
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>

#include "DemoProcess.h"
#include "shell/GatewayCache.h"

namespace hb::test {
namespace {

using TClock = std::chrono::steady_clock;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct TTimed {
  TDemoReply Reply;
  int64_t Ms;
};

TTimed Timed(int port, const std::string& target) {
  auto start = TClock::now();
  TDemoReply r = TDemoProcess::Request(port, "GET", target, "", 30000);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
  return {r, ms};
}

// The number after "name": in a flat JSON text; -1 when absent.
int64_t NumberAfter(const std::string& json, const std::string& name) {
  auto at = json.find("\"" + name + "\":");
  if (at == std::string::npos) return -1;
  return std::stoll(json.substr(at + name.size() + 3));
}

TEST(DemoLineTest, LatencyDelaysEveryCloudAnswerAndChangesAtRunTime) {
  TDemoProcess demo({"--cloud-latency-ms", "400"});
  TTimed list = Timed(demo.CloudPort(), "/seatmap/display/list?NetBarId=1001");
  EXPECT_EQ(list.Reply.Status, 200);
  EXPECT_GE(list.Ms, 400);
  TTimed picture = Timed(demo.CloudPort(), "/assets/seat-free.png");
  EXPECT_EQ(picture.Reply.Status, 200);
  EXPECT_GE(picture.Ms, 400);
  // The gateway's first fetch crosses the line too.
  TTimed relayed = Timed(demo.GatewayPort(), "/cache?u=%2Fbrand-logo.png");
  EXPECT_EQ(relayed.Reply.Status, 200);
  EXPECT_GE(relayed.Ms, 400);

  demo.SetFault(R"({"cloud-latency-ms":900})");
  EXPECT_TRUE(Has(TDemoProcess::Request(demo.CloudPort(), "GET", "/demo/fault").Body,
                  R"("cloud-latency-ms":900)"));
  EXPECT_GE(Timed(demo.CloudPort(), "/assets/seat-busy.png").Ms, 900);
  demo.SetFault(R"({"reset":true})");
  EXPECT_TRUE(Has(TDemoProcess::Request(demo.CloudPort(), "GET", "/demo/fault").Body,
                  R"("cloud-latency-ms":0)"));
}

TEST(DemoLineTest, RateThrottlesTheBodyWhichArrivesWhole) {
  TDemoProcess demo;
  const std::string path = "/product-image/goods-01.png";
  TDemoReply fast = TDemoProcess::Request(demo.CloudPort(), "GET", path);
  ASSERT_EQ(fast.Status, 200);
  ASSERT_GT(fast.Body.size(), 40000u);

  // 400 kbit/s is 50 bytes per millisecond, so the picture needs its size / 50 ms at least.
  demo.SetFault(R"({"cloud-rate-kbps":"400"})");
  TTimed slow = Timed(demo.CloudPort(), path);
  EXPECT_EQ(slow.Reply.Status, 200);
  EXPECT_EQ(slow.Reply.Body, fast.Body);
  EXPECT_GE(slow.Ms, static_cast<int64_t>(fast.Body.size() / 50) - 20);

  // The cloud counts the body bytes it sent, per path; a stats reset clears them.
  std::string stats = demo.Stats(false);
  EXPECT_EQ(NumberAfter(stats, "bytes_sent"), static_cast<int64_t>(2 * fast.Body.size())) << stats;
  std::string perPath = stats.substr(stats.find("\"sent\":"));
  EXPECT_EQ(NumberAfter(perPath, path), static_cast<int64_t>(2 * fast.Body.size())) << stats;
  demo.ResetStats();
  EXPECT_EQ(NumberAfter(demo.Stats(false), "bytes_sent"), 0);
}

TEST(DemoLineTest, LineSwitchesRefuseWhatIsNotAWholeNumber) {
  TDemoProcess demo;
  for (const char* body : {R"({"cloud-latency-ms":-1})", R"({"cloud-latency-ms":"abc"})",
                           R"({"cloud-rate-kbps":1.5})", R"({"cloud-latency-ms":60001})",
                           R"({"cloud-rate-kbps":""})", R"({"cloud-rate-kbps":null})"}) {
    TDemoReply r = TDemoProcess::Request(demo.CloudPort(), "POST", "/demo/fault", body);
    EXPECT_EQ(r.Status, 400) << body;
    EXPECT_TRUE(Has(r.Body, "wants a whole number")) << body << ": " << r.Body;
  }
  EXPECT_TRUE(Has(TDemoProcess::Request(demo.CloudPort(), "GET", "/demo/fault").Body,
                  R"("cloud-latency-ms":0,"cloud-rate-kbps":0)"));
  EXPECT_THROW(TDemoProcess({"--cloud-rate-kbps", "fast"}), std::runtime_error);
}

TEST(DemoLineTest, GatewayServesWhatItKeptFromMemoryEvenWithTheCloudDown) {
  TDemoProcess demo;
  const std::string kept = "/cache?u=%2Fshop%2Fnews-image%2Fnews-03.png";
  const std::string catalog = "/cache?u=%2Fshop%2Fcatalog-version%3FNetBarId%3D1001";
  TDemoReply first = TDemoProcess::Request(demo.GatewayPort(), "GET", kept);
  ASSERT_EQ(first.Status, 200);
  ASSERT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", catalog).Status, 200);
  TDemoReply again = TDemoProcess::Request(demo.GatewayPort(), "GET", kept);
  EXPECT_EQ(again.Body, first.Body);
  std::string cloud = demo.Stats(false);
  EXPECT_EQ(NumberAfter(cloud, "/shop/news-image/news-03.png"), 1) << cloud; // asked once

  demo.SetFault(R"({"cloud":"down"})");
  TDemoReply fromMemory = TDemoProcess::Request(demo.GatewayPort(), "GET", kept);
  EXPECT_EQ(fromMemory.Status, 200);
  EXPECT_EQ(fromMemory.Body, first.Body);
  // What the cloud marks no-cache (the catalogue version) and what was never fetched need it.
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", catalog).Status, 502);
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", "/cache?u=%2Fsite-logo.png").Status,
            502);

  TDemoProcess::Request(demo.GatewayPort(), "POST", "/demo/cache/clear");
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", kept).Status, 502);
}

TEST(DemoLineTest, DisplayPageWeighsAboutTwoMegabytesOfCacheablePictures) {
  TDemoProcess demo;
  TDemoReply page =
      TDemoProcess::Request(demo.CloudPort(), "GET", "/seatmap/display?NetBarId=1001&embed=1&m=2");
  ASSERT_EQ(page.Status, 200);
  std::set<std::string> pictures;
  std::regex src(R"re(<img src="([^"]+)")re");
  for (auto it = std::sregex_iterator(page.Body.begin(), page.Body.end(), src);
       it != std::sregex_iterator(); ++it)
    pictures.insert((*it)[1]);
  EXPECT_GE(pictures.size(), 45u);
  int64_t total = 0;
  bool media = false;
  for (const auto& p : pictures) {
    EXPECT_TRUE(IsCacheablePath(p)) << p;
    media = media || IsSeatMapMedia(p);
    TDemoReply r = TDemoProcess::Request(demo.CloudPort(), "GET", p);
    EXPECT_EQ(r.Status, 200) << p;
    total += static_cast<int64_t>(r.Body.size());
  }
  EXPECT_TRUE(media);
  EXPECT_TRUE(Has(page.Body, "/shop/catalog-version?NetBarId=1001"));
  EXPECT_GT(total, 1600000);
  EXPECT_LT(total, 2600000);

  demo.SetFault(R"({"page":"light"})");
  TDemoReply light =
      TDemoProcess::Request(demo.CloudPort(), "GET", "/seatmap/display?NetBarId=1001&embed=1&m=2");
  EXPECT_EQ(light.Status, 200);
  EXPECT_FALSE(Has(light.Body, "<img")) << light.Body;
  EXPECT_TRUE(Has(light.Body, "/shop/catalog-version?NetBarId=1001"));
}

TEST(DemoLineTest, PageTimingReportsAreKeptAsSent) {
  TDemoProcess demo;
  EXPECT_EQ(TDemoProcess::Request(demo.CloudPort(), "GET", "/demo/reports").Body, "[]");
  EXPECT_EQ(TDemoProcess::Request(demo.CloudPort(), "POST", "/demo/report",
                                  R"({"map":1,"load":120.5,"drawn":140})")
                .Status,
            200);
  for (const char* bad : {"", "[1]", "{\"map\":", "not json"})
    EXPECT_EQ(TDemoProcess::Request(demo.CloudPort(), "POST", "/demo/report", bad).Status, 400)
        << bad;
  EXPECT_EQ(TDemoProcess::Request(demo.CloudPort(), "GET", "/demo/reports").Body,
            R"([{"map":1,"load":120.5,"drawn":140}])");
}

} // namespace
} // namespace hb::test
