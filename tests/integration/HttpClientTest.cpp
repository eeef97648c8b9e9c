// The libcurl client against the demo gateway and cloud on loopback: time-outs, redirects,
// headers and bodies both ways, streaming, the body cap and the kinds of transport failure.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "CurlHttpClient.h"
#include "DemoProcess.h"

namespace hb {
namespace {

using test::TDemoProcess;
using TClock = std::chrono::steady_clock;

long long MsSince(TClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

// A loopback port nothing listens on: bound once to learn a free number, then closed.
int ClosedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  close(s);
  return ntohs(addr.sin_port);
}

class TCollectSink : public IHttpSink {
 public:
  explicit TCollectSink(int64_t refuseAfter = -1) : FRefuseAfter(refuseAfter) {}
  bool Write(const void* data, size_t size) override {
    if (FRefuseAfter >= 0 && static_cast<int64_t>(Bytes.size() + size) > FRefuseAfter) return false;
    Bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  std::string Bytes;

 private:
  int64_t FRefuseAfter;
};

class HttpClientTest : public ::testing::Test {
 protected:
  TDemoProcess Demo;
  TCurlHttpClient Client;

  THttpResponse Get(const std::string& url, int responseMs = 5000) {
    THttpRequest req;
    req.Url = url;
    req.ConnectTimeoutMs = 2000;
    req.ResponseTimeoutMs = responseMs;
    return Client.Send(req);
  }
};

TEST_F(HttpClientTest, TransportFailuresAreToldApart) {
  struct TCase {
    std::string Url;
    THttpError Want;
  };
  const TCase cases[] = {
      {"http://127.0.0.1:" + std::to_string(ClosedPort()) + "/entry", THttpError::heConnect},
      {"http://nonexistent.invalid/entry", THttpError::heResolve},
      {"not a url", THttpError::heOther},
      {"ftp://127.0.0.1/entry", THttpError::heOther}, // only http and https
      {"", THttpError::heOther},
  };
  for (const auto& c : cases) {
    THttpResponse r = Get(c.Url);
    EXPECT_EQ(r.Error, c.Want) << c.Url << ": " << r.ErrorMessage;
    EXPECT_EQ(IsTransportFailure(r.Error), IsTransportFailure(c.Want)) << c.Url;
    EXPECT_FALSE(r.ErrorMessage.empty()) << c.Url;
    EXPECT_EQ(r.Status, 0) << c.Url;
  }
}

TEST_F(HttpClientTest, GatewayTakenDownRefusesAndComesBackOnTheSamePort) {
  Demo.SetFault(R"({"gateway":"down"})");
  EXPECT_EQ(Get(Demo.GatewayBase() + "/entry").Error, THttpError::heConnect);
  Demo.SetFault(R"({"gateway":"ok"})");
  THttpResponse r = Get(Demo.GatewayBase() + "/entry");
  EXPECT_EQ(r.Error, THttpError::heNone) << r.ErrorMessage;
  EXPECT_EQ(r.Status, 200);
}

TEST_F(HttpClientTest, SilentServerTimesOutAfterTheResponseTimeOut) {
  Demo.SetFault(R"({"entry":"hang"})");
  auto start = TClock::now();
  THttpResponse r = Get(Demo.GatewayBase() + "/entry", 800);
  long long took = MsSince(start);
  EXPECT_EQ(r.Error, THttpError::heTimeout) << r.ErrorMessage;
  EXPECT_TRUE(IsTransportFailure(r.Error));
  EXPECT_NE(r.ErrorMessage.find("800"), std::string::npos) << r.ErrorMessage;
  EXPECT_GE(took, 800);
  EXPECT_LT(took, 5000); // not the 30-second default, nor the demo's own 2-minute hang

  // The same client carries on after a time-out.
  Demo.SetFault(R"({"reset":true})");
  THttpResponse next = Get(Demo.GatewayBase() + "/entry");
  EXPECT_EQ(next.Status, 200) << next.ErrorMessage;
}

TEST_F(HttpClientTest, ResponseTimeOutLimitsEachWaitNotTheWholeAnswer) {
  // Eight pieces 300 ms apart take well over the 1000 ms time-out in total.
  auto start = TClock::now();
  THttpResponse r = Get(Demo.CloudBase() + "/demo/trickle?count=8&interval_ms=300", 1000);
  EXPECT_EQ(r.Error, THttpError::heNone) << r.ErrorMessage;
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body.size(), 8u * 6);
  EXPECT_GE(MsSince(start), 2000);
}

// A peer that sends a piece now and then never goes quiet for a whole response time-out; only
// the overall deadline or the rate rule ends it. Small limits keep the test short; the trickle
// would run for minutes.
TEST_F(HttpClientTest, TrickleIsEndedByTheTotalDeadlineOrTheRateRule) {
  const std::string url = Demo.CloudBase() + "/demo/trickle?count=2000&interval_ms=100";
  THttpRequest total;
  total.Url = url;
  total.ResponseTimeoutMs = 5000;
  total.TotalTimeoutMs = 600;
  THttpResponse a = Client.Send(total);
  EXPECT_EQ(a.Error, THttpError::heTimeout) << a.ErrorMessage;
  EXPECT_TRUE(IsTransportFailure(a.Error));
  EXPECT_EQ(a.ErrorMessage, TotalTimeoutText(600));
  EXPECT_LT(a.BodyBytes, 2000 * 6);

  THttpRequest rate;
  rate.Url = url;
  rate.ResponseTimeoutMs = 5000;
  rate.MinBytesPerSecond = 1000; // the trickle brings 60 bytes a second
  rate.RateWindowMs = 500;
  TCollectSink sink;
  THttpResponse b = Client.Send(rate, &sink);
  EXPECT_EQ(b.Error, THttpError::heTimeout) << b.ErrorMessage;
  EXPECT_EQ(b.ErrorMessage, SlowAnswerText(1000, 500));
  EXPECT_EQ(b.Status, 200);
  EXPECT_LT(sink.Bytes.size(), 2000u * 6);

  // A slow answer that keeps to the rate completes, however long it takes in all.
  THttpRequest steady;
  steady.Url = Demo.CloudBase() + "/demo/trickle?count=8&interval_ms=300";
  steady.ResponseTimeoutMs = 5000;
  steady.MinBytesPerSecond = 1;
  steady.RateWindowMs = 1000;
  THttpResponse c = Client.Send(steady);
  EXPECT_EQ(c.Error, THttpError::heNone) << c.ErrorMessage;
  EXPECT_EQ(c.Body.size(), 8u * 6);
}

TEST_F(HttpClientTest, DownloadThatStallsMidBodyTimesOut) {
  auto dir = std::filesystem::temp_directory_path() / ("hb-http-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string pkg = (dir / "stall.zip").string();
  std::ofstream(pkg) << std::string(100000, 'z');
  Demo.SetRelease(R"({"path":")" + pkg + R"(","version_code":3,"version":"1.0.2"})");
  Demo.SetFault(R"({"update":"stall"})");
  THttpRequest req;
  req.Url = Demo.GatewayBase() + "/downloadUpdate?file=stall.zip";
  req.ResponseTimeoutMs = 700;
  TCollectSink sink;
  THttpResponse r = Client.Send(req, &sink);
  EXPECT_EQ(r.Error, THttpError::heTimeout) << r.ErrorMessage;
  EXPECT_EQ(r.Status, 200); // the answer had begun
  EXPECT_EQ(sink.Bytes, std::string("PK\x03\x04"));
  std::filesystem::remove_all(dir);
}

TEST_F(HttpClientTest, RedirectsAreFollowedOnlyWhenAsked) {
  THttpRequest req;
  req.Url = Demo.CloudBase() + "/demo/redirect?to=/demo/echo";
  req.ResponseHeaders = {"Location"};
  req.FollowRedirects = false;
  THttpResponse stay = Client.Send(req);
  EXPECT_EQ(stay.Error, THttpError::heNone) << stay.ErrorMessage;
  EXPECT_EQ(stay.Status, 302);
  EXPECT_NE(stay.Header("location").find("/demo/echo"), std::string::npos);

  req.FollowRedirects = true;
  THttpResponse follow = Client.Send(req);
  EXPECT_EQ(follow.Status, 200);
  EXPECT_NE(follow.Body.find("\"target\":\"/demo/echo\""), std::string::npos) << follow.Body;
  EXPECT_TRUE(follow.Header("Location").empty()); // headers are the final answer's

  // The gateway's redirected update check, as the update module sends it.
  Demo.SetFault(R"({"update":"redirect-check"})");
  THttpRequest check;
  check.Method = "POST";
  check.Url = Demo.GatewayBase() + "/getUpdate";
  check.Body = "{}";
  check.FollowRedirects = false;
  EXPECT_EQ(Client.Send(check).Status, 302);
}

TEST_F(HttpClientTest, RequestHeadersBodyAndUserAgentArriveAsGiven) {
  THttpRequest req;
  req.Method = "POST";
  req.Url = Demo.CloudBase() + "/demo/echo";
  req.Headers = {
      {"Content-Type", "application/json"}, {"Accept", "application/json"}, {"X-Empty", ""}};
  req.Body = std::string(5000, 'b') + "中文"; // long enough that curl would ask to continue
  req.UserAgent = "RIDera WebCache";
  THttpResponse r = Client.Send(req);
  ASSERT_EQ(r.Status, 200) << r.ErrorMessage;
  const std::string& echo = r.Body;
  EXPECT_NE(echo.find("\"method\":\"POST\""), std::string::npos);
  EXPECT_NE(echo.find("\"Content-Type\":\"application/json\""), std::string::npos) << echo;
  EXPECT_NE(echo.find("\"Accept\":\"application/json\""), std::string::npos) << echo;
  EXPECT_NE(echo.find("\"User-Agent\":\"RIDera WebCache\""), std::string::npos) << echo;
  EXPECT_NE(echo.find("\"body\":\"" + req.Body + "\""), std::string::npos);
  EXPECT_EQ(echo.find("Expect"), std::string::npos) << echo;

  THttpRequest plain;
  plain.Url = Demo.CloudBase() + "/demo/echo";
  THttpResponse d = Client.Send(plain);
  EXPECT_NE(d.Body.find("\"User-Agent\":\"hallBoard\""), std::string::npos) << d.Body;
  EXPECT_NE(d.Body.find("\"method\":\"GET\""), std::string::npos);
  EXPECT_EQ(d.Body.find("Content-Type"), std::string::npos) << d.Body;

  // Header text that would split the request is refused before anything is sent.
  THttpRequest bad = plain;
  bad.Headers = {{"X-Bad", "a\r\nX-Injected: 1"}};
  THttpResponse refused = Client.Send(bad);
  EXPECT_EQ(refused.Error, THttpError::heOther);
  EXPECT_FALSE(refused.ErrorMessage.empty());
}

TEST_F(HttpClientTest, UpdateCheckBodyReachesTheGateway) {
  THttpRequest req;
  req.Method = "POST";
  req.Url = Demo.GatewayBase() + "/getUpdate";
  req.Headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
  req.Body = R"({"component":"HallBoard","current_version":"1.0.1","current_version_code":2,)"
             R"("ts":1765324800,"nonce":"0f0e0d0c-0b0a-4908-8706-050403020100"})";
  req.FollowRedirects = false;
  THttpResponse r = Client.Send(req);
  EXPECT_EQ(r.Status, 200) << r.ErrorMessage;
  EXPECT_EQ(r.Body, R"({"update":false,"reason":"已是最新版本"})");
  EXPECT_EQ(Demo.LastUpdateRequest(), req.Body);
}

TEST_F(HttpClientTest, NoCookiesAreKeptOrSent) {
  EXPECT_EQ(Get(Demo.CloudBase() + "/demo/set-cookie").Status, 200);
  THttpResponse r = Get(Demo.CloudBase() + "/demo/echo");
  EXPECT_EQ(r.Body.find("Cookie"), std::string::npos) << r.Body;
}

TEST_F(HttpClientTest, AskedForResponseHeadersComeBackInTheAskedOrder) {
  THttpRequest req;
  req.Url = Demo.GatewayBase() + "/cache?u=%2Fassets%2Fseat-free.png";
  req.ResponseHeaders = {"cache-control", "Content-Type", "X-Missing"};
  THttpResponse r = Client.Send(req);
  ASSERT_EQ(r.Status, 200) << r.ErrorMessage;
  ASSERT_EQ(r.Headers.size(), 2u);
  EXPECT_EQ(r.Headers[0],
            (std::pair<std::string, std::string>{"cache-control", "public, max-age=86400"}));
  EXPECT_EQ(r.Headers[1], (std::pair<std::string, std::string>{"Content-Type", "image/png"}));
  EXPECT_EQ(r.Header("X-Demo-Extra"), ""); // present in the answer, but not asked for
  EXPECT_EQ(r.Body.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
  EXPECT_EQ(r.BodyBytes, static_cast<int64_t>(r.Body.size()));
}

TEST_F(HttpClientTest, BodyCapStopsALargerAnswerAndKeepsOnlyTheCap) {
  Demo.SetFault(R"({"cache":"oversized"})");
  THttpRequest req;
  req.Url = Demo.GatewayBase() + "/cache?u=%2Fassets%2Fseat-free.png";
  req.MaxBody = 12 << 20;
  THttpResponse r = Client.Send(req);
  EXPECT_EQ(r.Error, THttpError::heNone) << r.ErrorMessage;
  EXPECT_EQ(r.Status, 200);
  EXPECT_TRUE(r.Overflow);
  EXPECT_EQ(r.Body.size(), static_cast<size_t>(12 << 20));

  // Within the cap, and exactly at it, the body is whole.
  Demo.SetFault(R"({"reset":true})");
  req.MaxBody = -1;
  THttpResponse whole = Client.Send(req);
  ASSERT_EQ(whole.Status, 200);
  for (int64_t cap : {static_cast<int64_t>(whole.Body.size()), int64_t{1} << 20}) {
    req.MaxBody = cap;
    THttpResponse r2 = Client.Send(req);
    EXPECT_FALSE(r2.Overflow) << cap;
    EXPECT_EQ(r2.Body, whole.Body) << cap;
  }
  req.MaxBody = static_cast<int64_t>(whole.Body.size()) - 1;
  THttpResponse cut = Client.Send(req);
  EXPECT_TRUE(cut.Overflow);
  EXPECT_EQ(cut.Body, whole.Body.substr(0, whole.Body.size() - 1));

  Demo.SetFault(R"({"cache":"empty"})");
  req.MaxBody = 100;
  THttpResponse empty = Client.Send(req);
  EXPECT_EQ(empty.Status, 200);
  EXPECT_TRUE(empty.Body.empty());
  EXPECT_FALSE(empty.Overflow);
}

TEST_F(HttpClientTest, StreamsToASinkAndStopsWhenTheSinkRefuses) {
  auto dir = std::filesystem::temp_directory_path() / ("hb-http-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string pkg = (dir / "release.zip").string();
  std::string bytes(3 << 20, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  std::ofstream(pkg, std::ios::binary) << bytes;
  Demo.SetRelease(R"({"path":")" + pkg + R"(","version_code":3,"version":"1.0.2"})");

  THttpRequest req;
  req.Url = Demo.GatewayBase() + "/downloadUpdate?file=release.zip&nonce=1";
  req.MaxBody = 1024; // applies to memory bodies only
  TCollectSink sink;
  THttpResponse r = Client.Send(req, &sink);
  EXPECT_EQ(r.Error, THttpError::heNone) << r.ErrorMessage;
  EXPECT_EQ(r.Status, 200);
  EXPECT_TRUE(sink.Bytes == bytes);
  EXPECT_TRUE(r.Body.empty());
  EXPECT_FALSE(r.Overflow);
  EXPECT_EQ(r.BodyBytes, static_cast<int64_t>(bytes.size()));

  TCollectSink refusing(1 << 20);
  THttpResponse stopped = Client.Send(req, &refusing);
  EXPECT_EQ(stopped.Error, THttpError::heAborted);
  EXPECT_FALSE(IsTransportFailure(stopped.Error));
  EXPECT_FALSE(stopped.ErrorMessage.empty());
  EXPECT_LE(refusing.Bytes.size(), static_cast<size_t>(1 << 20));

  // A short package arrives as a complete answer of fewer bytes; the caller compares sizes.
  Demo.SetFault(R"({"update":"short"})");
  TCollectSink shortSink;
  THttpResponse cut = Client.Send(req, &shortSink);
  EXPECT_EQ(cut.Status, 200);
  EXPECT_EQ(shortSink.Bytes.size(), bytes.size() - 1);
  std::filesystem::remove_all(dir);
}

TEST_F(HttpClientTest, OneClientPerThreadWorksConcurrently) {
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([this, &ok] {
      TCurlHttpClient mine;
      for (int j = 0; j < 5; ++j) {
        THttpRequest req;
        req.Url = Demo.GatewayBase() + "/cache?u=%2Fshop%2Fcatalog-version%3FNetBarId%3D1001";
        THttpResponse r = mine.Send(req);
        if (r.Status == 200 && r.Body.find("20251210.3") != std::string::npos) ++ok;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 40);
}

} // namespace
} // namespace hb
