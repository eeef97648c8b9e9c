// The WinHTTP client against the real demo gateway (hallboard-demo on loopback), whose address
// tests/windows/run passes in HB_DEMO_GATEWAY. Without it these tests are skipped.
#include <gtest/gtest.h>

#include <cstdlib>

#include "WinHttpClient.h"

namespace hb::win {
namespace {

std::string Demo() {
  const char* v = std::getenv("HB_DEMO_GATEWAY");
  return v ? v : "";
}

#define NEED_DEMO()                                                                                \
  if (Demo().empty()) GTEST_SKIP() << "HB_DEMO_GATEWAY not set"

TEST(WinHttpDemo, EntryAnswerWithHeadersAsked) {
  NEED_DEMO();
  THttpRequest r;
  r.Url = Demo() + "/entry";
  r.ResponseHeaders = {"Content-Type"};
  auto a = TWinHttpClient().Send(r);
  ASSERT_TRUE(a.Ok()) << a.ErrorMessage;
  EXPECT_EQ(a.Status, 200);
  EXPECT_NE(a.Body.find("\"NetBarId\""), std::string::npos) << a.Body;
  EXPECT_NE(a.Header("content-type").find("json"), std::string::npos);
}

TEST(WinHttpDemo, HeadersAgentAndNoCookieArrive) {
  NEED_DEMO();
  TWinHttpClient client;
  THttpRequest cookie;
  cookie.Url = Demo() + "/demo/set-cookie";
  ASSERT_TRUE(client.Send(cookie).Ok());
  THttpRequest r;
  r.Method = "POST";
  r.Url = Demo() + "/demo/echo?q=%E6%9C%BA";
  r.Headers = {{"X-Nonce", "n-1"}, {"Content-Type", "application/json"}};
  r.Body = "{\"version_code\":2}";
  r.UserAgent = "hallBoard/1.0.1";
  auto a = client.Send(r);
  ASSERT_TRUE(a.Ok()) << a.ErrorMessage;
  EXPECT_NE(a.Body.find("\"method\":\"POST\""), std::string::npos) << a.Body;
  EXPECT_NE(a.Body.find("/demo/echo?q=%E6%9C%BA"), std::string::npos) << a.Body;
  EXPECT_NE(a.Body.find("\"X-Nonce\":\"n-1\""), std::string::npos) << a.Body;
  EXPECT_NE(a.Body.find("\"User-Agent\":\"hallBoard/1.0.1\""), std::string::npos) << a.Body;
  EXPECT_NE(a.Body.find("version_code"), std::string::npos) << a.Body;
  EXPECT_EQ(a.Body.find("Cookie"), std::string::npos) << a.Body;
}

TEST(WinHttpDemo, RedirectLeftAlone) {
  NEED_DEMO();
  THttpRequest r;
  r.Url = Demo() + "/demo/redirect?to=/demo/echo";
  r.FollowRedirects = false;
  r.ResponseHeaders = {"Location"};
  auto a = TWinHttpClient().Send(r);
  ASSERT_TRUE(a.Ok()) << a.ErrorMessage;
  EXPECT_EQ(a.Status, 302);
  EXPECT_EQ(a.Header("Location"), "/demo/echo");
}

TEST(WinHttpDemo, ResponseTimeOutIsPerReadNotTotal) {
  NEED_DEMO();
  THttpRequest r;
  // Ten pieces 300 ms apart: three seconds in all, never more than 300 ms without bytes.
  r.Url = Demo() + "/demo/trickle?count=10&interval_ms=300";
  r.ResponseTimeoutMs = 1500;
  auto a = TWinHttpClient().Send(r);
  ASSERT_TRUE(a.Ok()) << a.ErrorMessage;
  EXPECT_EQ(a.Body.size(), 60u);
  // A gap longer than the time-out is a time-out.
  r.Url = Demo() + "/demo/trickle?count=3&interval_ms=3000";
  r.ResponseTimeoutMs = 800;
  auto b = TWinHttpClient().Send(r);
  EXPECT_EQ(b.Error, THttpError::heTimeout) << b.ErrorMessage;
}

TEST(WinHttpDemo, StreamingCapStopsTheTransfer) {
  NEED_DEMO();
  THttpRequest r;
  r.Url = Demo() + "/demo/trickle?count=50&interval_ms=0";
  r.MaxBody = 100;
  auto a = TWinHttpClient().Send(r);
  EXPECT_TRUE(a.Ok());
  EXPECT_TRUE(a.Overflow);
  EXPECT_EQ(a.Body.size(), 100u);
}

} // namespace
} // namespace hb::win
