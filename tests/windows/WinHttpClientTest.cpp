#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "WinHttpClient.h"

namespace hb::win {
namespace {

using test::TLoopbackServer;

THttpResponse Get(const std::string& url, THttpRequest r = {}) {
  r.Url = url;
  TWinHttpClient client;
  return client.Send(r);
}

TEST(WinHttpClient, StatusBodyAndNamedHeaders) {
  TLoopbackServer server;
  THttpRequest r;
  r.ResponseHeaders = {"content-type", "X-Store", "X-Absent"};
  auto a = Get(server.Url("/hello"), r);
  ASSERT_TRUE(a.Ok()) << a.ErrorMessage;
  EXPECT_EQ(a.Status, 200);
  EXPECT_EQ(a.Body, "hello");
  EXPECT_EQ(a.BodyBytes, 5);
  ASSERT_EQ(a.Headers.size(), 2u); // the absent one is left out
  EXPECT_EQ(a.Header("Content-Type"), "text/plain");
  EXPECT_EQ(a.Header("x-store"), "门店");
  // An error status is an answer, not a failure.
  auto missing = Get(server.Url("/missing"));
  EXPECT_TRUE(missing.Ok());
  EXPECT_EQ(missing.Status, 404);
}

TEST(WinHttpClient, SendsMethodHeadersBodyAndUserAgentButNoCookies) {
  TLoopbackServer server;
  TWinHttpClient client;
  THttpRequest cookie;
  cookie.Url = server.Url("/cookie");
  ASSERT_TRUE(client.Send(cookie).Ok());
  THttpRequest r;
  r.Method = "POST";
  r.Url = server.Url("/echo?x=1&y=%E4%B8%AD");
  r.Headers = {{"Content-Type", "application/json"}, {"X-Nonce", "abc"}};
  r.Body = "{\"a\":1}";
  r.UserAgent = "hallBoard/1.0.1";
  auto a = client.Send(r);
  ASSERT_TRUE(a.Ok()) << a.ErrorMessage;
  EXPECT_EQ(a.Body.rfind("POST /echo?x=1&y=%E4%B8%AD HTTP/1.1\r\n", 0), 0u) << a.Body;
  EXPECT_NE(a.Body.find("\r\nX-Nonce: abc\r\n"), std::string::npos);
  EXPECT_NE(a.Body.find("\r\nContent-Type: application/json\r\n"), std::string::npos);
  EXPECT_NE(a.Body.find("\r\nUser-Agent: hallBoard/1.0.1\r\n"), std::string::npos);
  EXPECT_NE(a.Body.find("\r\n\r\n{\"a\":1}"), std::string::npos);
  EXPECT_EQ(a.Body.find("Cookie"), std::string::npos);
}

TEST(WinHttpClient, RedirectsFollowedOnlyWhenAsked) {
  TLoopbackServer server;
  THttpRequest r;
  r.FollowRedirects = false;
  r.ResponseHeaders = {"Location"};
  auto stay = Get(server.Url("/redirect"), r);
  ASSERT_TRUE(stay.Ok()) << stay.ErrorMessage;
  EXPECT_EQ(stay.Status, 302);
  EXPECT_EQ(stay.Header("Location"), "/hello");
  r.FollowRedirects = true;
  auto follow = Get(server.Url("/redirect"), r);
  EXPECT_EQ(follow.Status, 200);
  EXPECT_EQ(follow.Body, "hello");
}

TEST(WinHttpClient, BodyCapStopsWithoutHoldingTheWholeBody) {
  TLoopbackServer server;
  THttpRequest r;
  r.MaxBody = 1000;
  auto a = Get(server.Url("/big"), r);
  EXPECT_TRUE(a.Ok());
  EXPECT_TRUE(a.Overflow);
  EXPECT_EQ(a.Body.size(), 1000u);
  r.MaxBody = 200000; // exactly the size: fits
  auto b = Get(server.Url("/big"), r);
  EXPECT_FALSE(b.Overflow);
  EXPECT_EQ(b.Body.size(), 200000u);
}

TEST(WinHttpClient, StreamsToSinkAndStopsWhenTheSinkRefuses) {
  struct TSink : IHttpSink {
    size_t Got = 0, Limit = SIZE_MAX;
    bool Write(const void*, size_t n) override {
      Got += n;
      return Got <= Limit;
    }
  };
  TLoopbackServer server;
  TWinHttpClient client;
  THttpRequest r;
  r.Url = server.Url("/big");
  TSink all;
  auto a = client.Send(r, &all);
  EXPECT_TRUE(a.Ok());
  EXPECT_EQ(all.Got, 200000u);
  EXPECT_TRUE(a.Body.empty());
  TSink some;
  some.Limit = 10;
  auto b = client.Send(r, &some);
  EXPECT_EQ(b.Error, THttpError::heAborted);
}

TEST(WinHttpClient, TransportFailuresAreToldApart) {
  TLoopbackServer server;
  THttpRequest r;
  r.ConnectTimeoutMs = 2000;
  auto refused = Get("http://127.0.0.1:" + std::to_string(TLoopbackServer::DeadPort()) + "/", r);
  EXPECT_EQ(refused.Error, THttpError::heConnect) << refused.ErrorMessage;
  EXPECT_TRUE(IsTransportFailure(refused.Error));
  auto unresolved = Get("http://no-such-host.invalid/", r);
  EXPECT_EQ(unresolved.Error, THttpError::heResolve) << unresolved.ErrorMessage;
  r.ResponseTimeoutMs = 500;
  auto slow = Get(server.Url("/slow"), r);
  EXPECT_EQ(slow.Error, THttpError::heTimeout) << slow.ErrorMessage << slow.Status;
  EXPECT_EQ(slow.Status, 0);
  auto dropped = Get(server.Url("/drop"), r);
  EXPECT_FALSE(dropped.Ok());
  EXPECT_FALSE(dropped.ErrorMessage.empty());
}

// A peer that sends a byte now and then never goes quiet for a whole receive time-out; only the
// overall deadline or the rate rule ends it.
TEST(WinHttpClient, TrickleIsEndedByTheTotalDeadlineOrTheRateRule) {
  TLoopbackServer server;
  THttpRequest total;
  total.ResponseTimeoutMs = 5000;
  total.TotalTimeoutMs = 700;
  auto a = Get(server.Url("/trickle"), total);
  EXPECT_EQ(a.Error, THttpError::heTimeout) << a.ErrorMessage;
  EXPECT_EQ(a.ErrorMessage, TotalTimeoutText(700));
  EXPECT_LT(a.BodyBytes, 600);

  THttpRequest rate;
  rate.ResponseTimeoutMs = 5000;
  rate.MinBytesPerSecond = 100; // the trickle brings 10 bytes a second
  rate.RateWindowMs = 500;
  auto b = Get(server.Url("/trickle"), rate);
  EXPECT_EQ(b.Error, THttpError::heTimeout) << b.ErrorMessage;
  EXPECT_EQ(b.ErrorMessage, SlowAnswerText(100, 500));
  EXPECT_EQ(b.Status, 200);
  EXPECT_LT(b.BodyBytes, 600);

  // A rate rule that the answer keeps to changes nothing.
  THttpRequest steady;
  steady.MinBytesPerSecond = 1;
  steady.RateWindowMs = 1000;
  steady.TotalTimeoutMs = 60000;
  auto c = Get(server.Url("/big"), steady);
  EXPECT_TRUE(c.Ok()) << c.ErrorMessage;
  EXPECT_EQ(c.Body.size(), 200000u);
}

TEST(WinHttpClient, BadAddressesAreWordedFailures) {
  for (const char* url : {"", "ftp://127.0.0.1/", "not a url", "http://"}) {
    auto a = Get(url);
    EXPECT_EQ(a.Error, THttpError::heOther) << url;
    EXPECT_FALSE(a.ErrorMessage.empty()) << url;
  }
}

TEST(WinHttpClient, ErrorCodeTable) {
  struct {
    unsigned long Code;
    bool Answered;
    THttpError Want;
  } cases[] = {
      {12007, false, THttpError::heResolve}, {12002, false, THttpError::heTimeout},
      {12002, true, THttpError::heTimeout},  {12029, false, THttpError::heConnect},
      {12030, false, THttpError::heConnect}, {12030, true, THttpError::heOther},
      {12152, true, THttpError::heOther},    {12005, false, THttpError::heOther},
      {10060, true, THttpError::heTimeout},  {10061, false, THttpError::heConnect},
      {11001, false, THttpError::heResolve},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ClassifyWinHttpError(c.Code, c.Answered), c.Want) << c.Code << " " << c.Answered;
}

} // namespace
} // namespace hb::win
