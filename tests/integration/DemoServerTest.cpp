// The demo gateway and cloud that the other integration and end-to-end tests stand on: each
// switch really produces the answer it names, and bad switches are refused in words.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "DemoProcess.h"

namespace hb::test {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(DemoServerTest, EntrySwitchesShapeTheAnswer) {
  TDemoProcess demo;
  const std::string cloud = "http://127.0.0.1:" + std::to_string(demo.CloudPort());
  struct TCase {
    const char* Fault;
    int Status;
    std::string Part;    // must be in the body
    std::string Missing; // must not be in the body
  };
  const TCase cases[] = {
      {"ok", 200, R"("entry_url":")" + cloud + "/seatmap/?from=gateway\"", ""},
      {"500", 500, "", "entry_url"},
      {"text", 200, "网关", "{"},
      {"no-netbarid", 200, "entry_url", "NetBarId"},
      {"no-entry-url", 200, R"("NetBarId":"1001")", "entry_url"},
      {"bad-entry-url", 200, R"("entry_url":"127.0.0.1:)", "://"},
      {"huge", 200, "entry_url", ""},
      {"deep", 200, "[[[[[[[[", ""},
  };
  for (const auto& c : cases) {
    demo.SetFault(std::string(R"({"entry":")") + c.Fault + "\"}");
    TDemoReply r = TDemoProcess::Request(demo.GatewayPort(), "GET", "/entry");
    EXPECT_EQ(r.Status, c.Status) << c.Fault;
    if (!c.Part.empty()) {
      EXPECT_TRUE(Has(r.Body, c.Part)) << c.Fault << ": " << r.Body.substr(0, 200);
    }
    if (!c.Missing.empty()) {
      EXPECT_FALSE(Has(r.Body, c.Missing)) << c.Fault;
    }
  }
  demo.SetFault(R"({"entry":"huge"})");
  EXPECT_GT(TDemoProcess::Request(demo.GatewayPort(), "GET", "/entry").Body.size(), 2u << 20);

  demo.SetFault(R"({"entry":"hang"})");
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", "/entry", "", 500).Status, 0);
}

TEST(DemoServerTest, MapListAndPagesPerMap) {
  TDemoProcess demo({"--store-name", "测试店", "--netbar-id", "2002"});
  TDemoReply list =
      TDemoProcess::Request(demo.CloudPort(), "GET", "/seatmap/display/list?NetBarId=2002");
  EXPECT_EQ(list.Body, R"({"store":"测试店","maps":[{"id":1,"name":"大厅"},)"
                       R"({"id":2,"name":"包间区"},{"id":3,"name":"电竞区"}]})");
  EXPECT_TRUE(
      Has(TDemoProcess::Request(demo.GatewayPort(), "GET", "/entry").Body, R"("NetBarId":"2002")"));

  struct TPage {
    std::string M;
    int Status;
    std::string Colour, Name;
  };
  const TPage pages[] = {
      {"", 200, "#0E4D3A", "大厅"},
      {"&m=1", 200, "#0E4D3A", "大厅"},
      {"&m=2", 200, "#4D0E3A", "包间区"},
      {"&m=3", 200, "#3A4D0E", "电竞区"},
      {"&m=4", 404, "", ""},
      {"&m=x", 404, "", ""},
  };
  for (const auto& p : pages) {
    TDemoReply r = TDemoProcess::Request(demo.CloudPort(), "GET",
                                         "/seatmap/display?NetBarId=2002&embed=1" + p.M);
    EXPECT_EQ(r.Status, p.Status) << p.M;
    if (p.Status != 200) continue;
    EXPECT_TRUE(Has(r.Body, "background:" + p.Colour)) << p.M;
    EXPECT_TRUE(Has(r.Body, "<h1>" + p.Name + "</h1>")) << p.M;
    EXPECT_TRUE(Has(r.Body, "/shop/catalog-version?NetBarId=2002")) << p.M;
  }

  const std::pair<const char*, std::string> lists[] = {
      {"fail", "服务器内部错误"},
      {"object", R"("maps":{)"},
      {"not-object", R"([{"id":1)"},
  };
  for (const auto& [fault, part] : lists) {
    demo.SetFault(std::string(R"({"maplist":")") + fault + "\"}");
    TDemoReply r = TDemoProcess::Request(demo.CloudPort(), "GET", "/seatmap/display/list");
    EXPECT_TRUE(Has(r.Body, part)) << fault << ": " << r.Body;
  }
  demo.SetFault(R"({"page":"404"})");
  EXPECT_EQ(TDemoProcess::Request(demo.CloudPort(), "GET", "/seatmap/display?m=1").Status, 404);
}

TEST(DemoServerTest, CacheRelaysTheCloudAndCountsWhatItServed) {
  TDemoProcess demo;
  TDemoReply png = TDemoProcess::Request(
      demo.GatewayPort(), "GET",
      "/cache?u=%2Fseatmap%2F5f2c8a91d04b4e7c9a3e61b0f7d2c845%2Fimg%2F0a1b2c3d4e5f60718293.png");
  EXPECT_EQ(png.Status, 200);
  EXPECT_EQ(png.Body.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
  TDemoReply missing =
      TDemoProcess::Request(demo.GatewayPort(), "GET", "/cache?u=%2Fassets%2Fnone.png");
  EXPECT_EQ(missing.Status, 404);

  std::string stats = demo.Stats(true);
  EXPECT_TRUE(Has(stats, R"("cache_served":{"/seatmap/5f2c8a91d04b4e7c9a3e61b0f7d2c845/img/)"))
      << stats;
  EXPECT_TRUE(Has(stats, R"("/assets/none.png":1)")) << stats; // asked for, not served
  EXPECT_TRUE(Has(stats, R"("cache_order":["/seatmap/)")) << stats;

  struct TCase {
    const char* Fault;
    int Status;
    std::string Part;
  };
  const TCase cases[] = {
      {"429", 429, ""},   {"404-no-api", 404, "接口不存在"}, {"404", 404, ""}, {"500", 500, ""},
      {"empty", 200, ""},
  };
  for (const auto& c : cases) {
    demo.SetFault(std::string(R"({"cache":")") + c.Fault + "\"}");
    TDemoReply r = TDemoProcess::Request(demo.GatewayPort(), "GET", "/cache?u=%2Fbrand-logo.png");
    EXPECT_EQ(r.Status, c.Status) << c.Fault;
    EXPECT_TRUE(Has(r.Body, c.Part)) << c.Fault;
    if (std::string(c.Fault) == "404") {
      EXPECT_FALSE(Has(r.Body, "接口不存在"));
    }
    if (std::string(c.Fault) == "empty") {
      EXPECT_TRUE(r.Body.empty());
    }
  }
  demo.ResetStats();
  EXPECT_FALSE(Has(demo.Stats(true), "brand-logo"));
}

TEST(DemoServerTest, UpdateOfferFollowsTheReleaseAndTheSwitches) {
  TDemoProcess demo;
  auto dir = std::filesystem::temp_directory_path() / ("hb-demo-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string pkg = (dir / "HallBoard-1.0.2.zip").string();
  std::ofstream(pkg) << "abc";
  // SHA-256("abc"), the FIPS 180-2 example.
  const std::string sha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const std::string check = R"({"component":"HallBoard","current_version":"1.0.1",)"
                            R"("current_version_code":2,"ts":1,"nonce":"n-1"})";
  auto post = [&](const std::string& body = "") {
    return TDemoProcess::Request(demo.GatewayPort(), "POST", "/getUpdate",
                                 body.empty() ? check : body);
  };

  EXPECT_EQ(post().Body, R"({"update":false,"reason":"已是最新版本"})"); // no release yet
  EXPECT_EQ(demo.LastUpdateRequest(), check);
  demo.SetRelease(R"({"path":")" + pkg + R"(","version_code":3,"version":"1.0.2"})");
  EXPECT_EQ(post().Body,
            R"({"update":true,"download_path":"/downloadUpdate?file=HallBoard-1.0.2.zip)"
            R"(&nonce=n-1","sha256":")" +
                sha + R"(","size":3,"version_code":3,"version":"1.0.2"})");
  EXPECT_TRUE(Has(post(R"({"current_version_code":3})").Body, R"("update":false)"));
  EXPECT_THROW(demo.SetRelease(R"({"path":"/nonexistent/x.zip","version_code":3})"),
               std::runtime_error);

  struct TCase {
    const char* Fault;
    int Status;
    std::string Part;
  };
  const TCase cases[] = {
      {"none", 200, R"({"update":false,"reason":"已是最新版本"})"},
      {"none-no-reason", 200, R"({"update":false})"},
      {"500-html", 500, "<html>"},
      {"array", 200, "[{"},
      {"text", 200, "维护"},
      {"path-case", 200, R"("download_path":"/DownloadUpdate?file=)"},
      {"digest-63", 200, R"("sha256":")" + sha.substr(0, 63) + "\""},
      {"digest-65", 200, R"("sha256":")" + sha + "0\""},
      {"wrong-digest", 200, R"("sha256":"0a7816bf)"},
      {"size-0", 200, R"("size":0,)"},
      {"size-huge", 200, R"("size":314572801,)"},
      {"redirect-check", 302, ""},
  };
  for (const auto& c : cases) {
    demo.SetFault(std::string(R"({"update":")") + c.Fault + "\"}");
    TDemoReply r = post();
    EXPECT_EQ(r.Status, c.Status) << c.Fault;
    EXPECT_TRUE(Has(r.Body, c.Part)) << c.Fault << ": " << r.Body.substr(0, 200);
  }
  demo.SetFault(R"({"update":"500-html"})");
  EXPECT_GT(post().Body.size(), 200u);

  const std::string download = "/downloadUpdate?file=HallBoard-1.0.2.zip&nonce=n-1";
  demo.SetFault(R"({"reset":true})");
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", download).Body, "abc");
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", "/downloadUpdate?file=..%2Fx").Status,
            404);
  demo.SetFault(R"({"update":"short"})");
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", download).Body, "ab");
  demo.SetFault(R"({"update":"redirect-download"})");
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", download).Status, 302);
  demo.SetFault(R"({"update":"endless"})");
  TDemoReply endless = TDemoProcess::Request(demo.GatewayPort(), "GET", download, "", 300);
  EXPECT_GT(endless.Body.size(), 1000u); // still arriving when the reader gave up
  std::filesystem::remove_all(dir);
}

TEST(DemoServerTest, BadSwitchesAreRefusedInWords) {
  EXPECT_THROW(TDemoProcess({"--fault", "entry=sideways"}), std::runtime_error);
  TDemoProcess demo;
  const std::pair<const char*, const char*> bad[] = {
      {R"({"entry":"sideways"})", "no value"},
      {R"({"nosuch":"ok"})", "unknown fault switch"},
      {R"({"entry":5})", "text value"},
      {"[1]", "JSON object"},
  };
  for (const auto& [body, words] : bad) {
    TDemoReply r = TDemoProcess::Request(demo.CloudPort(), "POST", "/demo/fault", body);
    EXPECT_EQ(r.Status, 400) << body;
    EXPECT_TRUE(Has(r.Body, words)) << body << ": " << r.Body;
  }
  // Nothing of a refused object applies, not even its valid part.
  TDemoProcess::Request(demo.CloudPort(), "POST", "/demo/fault",
                        R"({"cache":"429","entry":"sideways"})");
  EXPECT_TRUE(
      Has(TDemoProcess::Request(demo.CloudPort(), "GET", "/demo/fault").Body, R"("cache":"ok")"));
}

TEST(DemoServerTest, ServersGoDownAndComeBackFromEitherSide) {
  TDemoProcess demo({"--fault", "cloud=down"});
  EXPECT_EQ(TDemoProcess::Request(demo.CloudPort(), "GET", "/seatmap/display/list").Status, 0);
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", "/cache?u=%2Fbrand-logo.png").Status,
            502);
  demo.SetFault(R"({"cloud":"ok","gateway":"down"})"); // sent to the gateway: the cloud is down
  EXPECT_EQ(TDemoProcess::Request(demo.CloudPort(), "GET", "/seatmap/display/list").Status, 200);
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", "/entry").Status, 0);
  demo.SetFault(R"({"reset":true})");
  EXPECT_EQ(TDemoProcess::Request(demo.GatewayPort(), "GET", "/entry").Status, 200);
}

} // namespace
} // namespace hb::test
