// The gateway cache handler with scripted gateway answers: which requests it takes, what it asks
// the gateway, how it judges the answer, and that every deferral is completed exactly once.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "FakeResourceRequest.h"
#include "FakeSystem.h"
#include "FakeUiQueue.h"
#include "shell/GatewayCache.h"

namespace hb {
namespace {

using test::TFakeResourceRequest;

const std::string kServer = "http://cloud.test:8080";
const std::string kGateway = "http://10.0.0.2:58001";
const std::string kHex32 = "0123456789abcdef0123456789abcdef";
const std::string kMedia = "/seatmap/" + kHex32 + "/img/abcdef0123456789abcd.png";

// Answers every request with a scripted function and keeps the requests it saw.
class TScriptedGateway {
 public:
  std::function<THttpResponse(const THttpRequest&)> Answer = [](const THttpRequest&) {
    return THttpResponse{};
  };
  std::atomic<int> Clients{0};

  THttpClientFactory Factory() {
    return [this]() -> std::unique_ptr<IHttpClient> {
      ++Clients;
      return std::make_unique<TClient>(*this);
    };
  }
  std::vector<THttpRequest> Seen() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FSeen;
  }

 private:
  class TClient : public IHttpClient {
   public:
    explicit TClient(TScriptedGateway& g) : FG(g) {}
    // A body goes to the sink the way a real client streams it: in pieces, stopping when the
    // sink refuses one.
    THttpResponse Send(const THttpRequest& request, IHttpSink* sink) override {
      {
        std::lock_guard<std::mutex> lock(FG.FMutex);
        FG.FSeen.push_back(request);
      }
      THttpResponse r = FG.Answer(request);
      if (!sink || !r.Ok()) return r;
      std::string body = std::move(r.Body);
      r.Body.clear();
      for (size_t at = 0; at < body.size(); at += 16384) {
        const size_t n = std::min<size_t>(16384, body.size() - at);
        if (!sink->Write(body.data() + at, n)) {
          r.Error = THttpError::heAborted;
          r.ErrorMessage = "下载已中止";
          break;
        }
      }
      return r;
    }

   private:
    TScriptedGateway& FG;
  };
  std::mutex FMutex;
  std::vector<THttpRequest> FSeen;
};

THttpResponse Answer(int status, std::string body, std::string contentType = "",
                     std::string cacheControl = "") {
  THttpResponse r;
  r.Status = status;
  r.Body = std::move(body);
  r.BodyBytes = static_cast<int64_t>(r.Body.size());
  if (!contentType.empty()) r.Headers.push_back({"Content-Type", contentType});
  if (!cacheControl.empty()) r.Headers.push_back({"Cache-Control", cacheControl});
  return r;
}

THttpResponse Failure(THttpError e) {
  THttpResponse r;
  r.Error = e;
  r.ErrorMessage = "scripted failure";
  return r;
}

class GatewayCacheHandler : public ::testing::Test {
 protected:
  void SetUp() override { BlockedUntil = 0; }
  void TearDown() override {
    WaitForFetches();
    Queue.Drain();
    BlockedUntil = 0;
    SetGatewayCacheBudgetForTests(0);
  }

  TGatewayCachePorts Ports() { return {&Queue, Gateway.Factory(), &System}; }

  static void WaitForFetches() {
    for (int i = 0; i < 10000 && GatewayFetchesInFlight() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(GatewayFetchesInFlight(), 0);
  }

  // Runs one request through the handler and the user-interface queue to its end.
  std::shared_ptr<TFakeResourceRequest> Run(const std::string& pathQuery) {
    auto req = std::make_shared<TFakeResourceRequest>(kServer + pathQuery);
    TGatewayCacheHandler handler(kServer, kGateway, Ports());
    handler.Invoke(req);
    WaitForFetches();
    Queue.Drain();
    return req;
  }

  test::TFakeUiQueue Queue;
  test::TFakeSystem System;
  TScriptedGateway Gateway;
};

TEST_F(GatewayCacheHandler, EarlyExitsLeaveRequestAlone) {
  struct TCase {
    std::string Uri;
    std::string Method;
    std::vector<std::string> Headers;
    bool Taken;
  };
  const TCase cases[] = {
      {kServer + "/assets/a.png", "GET", {}, true},
      {kServer + "/assets/a.png", "get", {}, true},
      {"HTTP://CLOUD.TEST:8080/assets/a.png", "GET", {}, true},
      {kServer + "/assets/a.png", "POST", {}, false},
      {kServer + "/assets/a.png", "HEAD", {}, false},
      {kServer + "/assets/a.png", "GET", {"range"}, false},
      {kServer + "/assets/a.png", "GET", {"Accept", "Range"}, false},
      {"http://cdn.test/assets/a.png", "GET", {}, false},
      {kServer + "0/assets/a.png", "GET", {}, false}, // another port that merely starts alike
      {kServer, "GET", {}, false},
      {kServer + "/", "GET", {}, false},
      {kServer + "/index.html", "GET", {}, false},
      {kServer + "/assets/../a.png", "GET", {}, false},
      {"", "GET", {}, false},
  };
  Gateway.Answer = [](const THttpRequest&) { return Answer(500, ""); };
  TGatewayCacheHandler handler(kServer, kGateway, Ports());
  for (const TCase& c : cases) {
    auto req = std::make_shared<TFakeResourceRequest>(c.Uri, c.Method, c.Headers);
    handler.Invoke(req);
    WaitForFetches();
    Queue.Drain();
    EXPECT_EQ(req->Defers, c.Taken ? 1 : 0) << c.Method << " " << c.Uri;
    EXPECT_EQ(req->Completes, c.Taken ? 1 : 0) << c.Method << " " << c.Uri;
    EXPECT_EQ(req->Responses, 0);
  }
  EXPECT_EQ(Gateway.Clients, 3);

  // During a pause nothing is taken, not even a request the cache would serve.
  BlockedUntil = System.TickCount64() + 1;
  auto paused = std::make_shared<TFakeResourceRequest>(kServer + "/assets/a.png");
  handler.Invoke(paused);
  EXPECT_EQ(paused->Defers, 0);
  // A browser that cannot give a deferral keeps its request; nothing is completed.
  BlockedUntil = 0;
  auto noDeferral = std::make_shared<TFakeResourceRequest>(kServer + "/assets/a.png");
  noDeferral->DeferResult = false;
  handler.Invoke(noDeferral);
  WaitForFetches();
  Queue.Drain();
  EXPECT_EQ(noDeferral->Completes, 0);
  EXPECT_EQ(Gateway.Clients, 3);
  handler.Invoke(nullptr);
}

TEST_F(GatewayCacheHandler, AsksGatewayWithEncodedPathAndLimits) {
  struct TCase {
    std::string PathQuery;
    std::string Url;
    int ResponseTimeout;
    int64_t MaxBody;
  };
  const TCase cases[] = {
      {"/assets/app.js?v=3", kGateway + "/cache?u=%2Fassets%2Fapp.js%3Fv%3D3", 25000, 12582912},
      {"/shop/catalog-version?NetBarId=1001",
       kGateway + "/cache?u=%2Fshop%2Fcatalog-version%3FNetBarId%3D1001", 7000, 12582912},
      {kMedia, kGateway + "/cache?u=%2Fseatmap%2F" + kHex32 + "%2Fimg%2Fabcdef0123456789abcd.png",
       90000, 33554432},
  };
  Gateway.Answer = [](const THttpRequest&) { return Answer(404, "not here"); };
  for (const TCase& c : cases) Run(c.PathQuery);
  std::vector<THttpRequest> seen = Gateway.Seen();
  ASSERT_EQ(seen.size(), std::size(cases));
  for (size_t i = 0; i < seen.size(); ++i) {
    const THttpRequest& r = seen[i];
    EXPECT_EQ(r.Method, "GET");
    EXPECT_EQ(r.Url, cases[i].Url);
    EXPECT_EQ(r.ConnectTimeoutMs, 1500);
    EXPECT_EQ(r.ResponseTimeoutMs, cases[i].ResponseTimeout) << cases[i].PathQuery;
    EXPECT_EQ(r.TotalTimeoutMs, 1500 + cases[i].ResponseTimeout) << cases[i].PathQuery;
    EXPECT_EQ(r.MaxBody, cases[i].MaxBody) << cases[i].PathQuery;
    EXPECT_FALSE(r.FollowRedirects);
    EXPECT_EQ(r.UserAgent, "RIDera WebCache");
    EXPECT_TRUE(r.Headers.empty()); // no cookies, nothing of the page's own request
    EXPECT_TRUE(r.Body.empty());
  }
  EXPECT_EQ(BlockedUntil.load(), 0u);
}

TEST_F(GatewayCacheHandler, ServedAnswerHasExactlyThreeHeaders) {
  struct TCase {
    std::string ContentType, CacheControl, Headers;
  };
  const TCase cases[] = {
      {"image/png", "",
       "Content-Type: image/png\r\nCache-Control: public, max-age=600\r\nX-QV-Cache: gateway"},
      {"text/html; charset=gbk", "max-age=60",
       "Content-Type: text/html; charset=utf-8\r\nCache-Control: max-age=60\r\nX-QV-Cache: "
       "gateway"},
      {"", "no-cache", "Content-Type: \r\nCache-Control: no-cache\r\nX-QV-Cache: gateway"},
      // A control character from the gateway never starts a header of its own.
      {"image/png\r\nSet-Cookie: a=b", "",
       "Content-Type: image/pngSet-Cookie: a=b\r\nCache-Control: public, max-age=600\r\n"
       "X-QV-Cache: gateway"},
      // DEL is a control character too.
      {"image/\x7Fpng",
       "max-age=\x7F"
       "60\x7F",
       "Content-Type: image/png\r\nCache-Control: max-age=60\r\nX-QV-Cache: gateway"},
  };
  for (const TCase& c : cases) {
    Gateway.Answer = [&](const THttpRequest&) {
      THttpResponse r = Answer(200, std::string("\x89PNG\0body", 9), c.ContentType, c.CacheControl);
      r.Headers.push_back({"Set-Cookie", "dropped=1"});
      return r;
    };
    auto req = Run("/avatar/u1.png");
    EXPECT_EQ(req->Completes, 1);
    ASSERT_EQ(req->Responses, 1);
    EXPECT_TRUE(req->AnsweredAtCompletion);
    EXPECT_EQ(req->Status, 200);
    EXPECT_EQ(req->Reason, "OK");
    EXPECT_EQ(req->Headers, c.Headers);
    EXPECT_EQ(req->Body, std::string("\x89PNG\0body", 9));
  }
  EXPECT_EQ(BlockedUntil.load(), 0u);
}

// The bodies of fetches in flight share one budget: past it a request goes to the cloud, as
// during a pause (but without starting one), and freed peaks go back to the system.
TEST_F(GatewayCacheHandler, BodiesInFlightKeepToTheMemoryBudget) {
  SetGatewayCacheBudgetForTests(100000);
  Gateway.Answer = [](const THttpRequest& q) {
    return Answer(200, std::string(q.Url.find("big") != std::string::npos ? 70000 : 20000, 'b'));
  };
  TGatewayCacheHandler handler(kServer, kGateway, Ports());
  auto big = std::make_shared<TFakeResourceRequest>(kServer + "/assets/big.png");
  auto small = std::make_shared<TFakeResourceRequest>(kServer + "/assets/small.png");
  auto over = std::make_shared<TFakeResourceRequest>(kServer + "/assets/big2.png");
  handler.Invoke(big);
  WaitForFetches();
  const int64_t afterBig = GatewayCacheBytesHeld();
  EXPECT_GE(afterBig, 69000);
  EXPECT_LE(afterBig, 100000);
  handler.Invoke(small); // fits beside it
  WaitForFetches();
  const int64_t afterSmall = GatewayCacheBytesHeld();
  EXPECT_GE(afterSmall, afterBig + 19000);
  handler.Invoke(over); // taken, but its body would overspend the budget
  WaitForFetches();
  EXPECT_EQ(over->Defers, 1);
  EXPECT_EQ(GatewayCacheBytesHeld(), afterSmall); // its partial body is already let go of
  // With the budget spent, a request is left alone before it is even deferred.
  SetGatewayCacheBudgetForTests(afterBig);
  auto spent = std::make_shared<TFakeResourceRequest>(kServer + "/assets/x.png");
  handler.Invoke(spent);
  EXPECT_EQ(spent->Defers, 0);
  EXPECT_EQ(Gateway.Seen().size(), 3u);

  Queue.Drain();
  EXPECT_EQ(big->Responses, 1);
  EXPECT_EQ(big->Body.size(), 70000u);
  // The body handed over is the block the budget paid for: growing by less than double must not
  // be rounded up to double behind the budget's back.
  EXPECT_LE(big->Body.capacity(), 100000u);
  EXPECT_EQ(small->Responses, 1);
  EXPECT_EQ(over->Completes, 1); // released without an answer: the cloud serves it
  EXPECT_EQ(over->Responses, 0);
  EXPECT_EQ(GatewayCacheBytesHeld(), 0);
  EXPECT_EQ(BlockedUntil.load(), 0u);
  EXPECT_EQ(System.Trims, 0); // nothing large enough to be worth giving back

  // A large body freed with nothing else held goes back to the system.
  SetGatewayCacheBudgetForTests(0);
  Gateway.Answer = [](const THttpRequest&) { return Answer(200, std::string(3 << 20, 'p')); };
  auto picture = Run("/assets/huge.png");
  EXPECT_EQ(picture->Body.size(), 3u << 20);
  EXPECT_EQ(GatewayCacheBytesHeld(), 0);
  EXPECT_EQ(System.Trims, 1);
}

// Answers an adapter still holds on their way into the browser share the budget: while they
// fill it, requests go to the cloud; once the browser has them, the cache serves again.
TEST_F(GatewayCacheHandler, AnswersOnTheirWayIntoTheBrowserShareTheBudget) {
  SetGatewayCacheBudgetForTests(100000);
  Gateway.Answer = [](const THttpRequest&) { return Answer(200, std::string(30000, 'a')); };
  CountGatewayCacheAnswerBytes(100000);
  auto waiting = Run("/assets/a.png");
  EXPECT_EQ(waiting->Defers, 0);
  CountGatewayCacheAnswerBytes(-50000);
  auto fits = Run("/assets/b.png");
  EXPECT_EQ(fits->Responses, 1);
  CountGatewayCacheAnswerBytes(30000); // only 20000 left: the next body overspends it
  auto over = Run("/assets/c.png");
  EXPECT_EQ(over->Defers, 1);
  EXPECT_EQ(over->Responses, 0);
  EXPECT_EQ(over->Completes, 1);
  CountGatewayCacheAnswerBytes(-80000);
  EXPECT_EQ(GatewayCacheBytesHeld(), 0);
  auto again = Run("/assets/d.png");
  EXPECT_EQ(again->Responses, 1);
  EXPECT_EQ(BlockedUntil.load(), 0u);
}

// The limits are inclusive: a body of exactly the limit is served, one byte more is not, even
// from a client that did not cut it off itself.
TEST_F(GatewayCacheHandler, BodiesUpToTheLimitAreServed) {
  struct TCase {
    std::string PathQuery;
    size_t Limit;
  };
  const TCase cases[] = {{"/assets/big.png", size_t{12} << 20}, {kMedia, size_t{32} << 20}};
  for (const TCase& c : cases) {
    for (size_t size : {c.Limit, c.Limit + 1}) {
      Gateway.Answer = [&](const THttpRequest&) {
        return Answer(200, std::string(size, 'p'), "image/png");
      };
      auto req = Run(c.PathQuery);
      const std::string trace = c.PathQuery + " " + std::to_string(size);
      EXPECT_EQ(req->Completes, 1) << trace;
      ASSERT_EQ(req->Responses, size <= c.Limit ? 1 : 0) << trace;
      if (req->Responses) {
        EXPECT_EQ(req->Body.size(), size) << trace;
      }
    }
  }
  EXPECT_EQ(BlockedUntil.load(), 0u);
}

TEST_F(GatewayCacheHandler, JudgingTableSetsPauses) {
  std::string noFunction = "{\"code\":404,\"msg\":\"接口不存在\"}";
  std::string lateNoFunction = std::string(4096, ' ') + "接口不存在";
  THttpResponse overflow = Answer(200, std::string(16, 'x'), "image/png");
  overflow.Overflow = true;
  struct TCase {
    std::string Name;
    THttpResponse Response;
    uint64_t Pause; // 0: none
  };
  const TCase cases[] = {
      {"empty 200", Answer(200, "", "image/png"), 0},
      {"oversized 200", overflow, 0},
      {"429", Answer(429, "busy"), 30000},
      {"404 without function", Answer(404, noFunction), 600000},
      {"404 text past 4096 bytes", Answer(404, lateNoFunction), 0},
      {"plain 404", Answer(404, "Not Found"), 0},
      {"500", Answer(500, "接口不存在"), 0},
      {"302", Answer(302, ""), 0},
      {"connect", Failure(THttpError::heConnect), 60000},
      {"resolve", Failure(THttpError::heResolve), 60000},
      {"timeout", Failure(THttpError::heTimeout), 60000},
      {"broken answer", Failure(THttpError::heOther), 0},
      {"aborted", Failure(THttpError::heAborted), 0},
  };
  for (const TCase& c : cases) {
    BlockedUntil = 0;
    System.Tick = 5000000;
    Gateway.Answer = [&](const THttpRequest&) {
      System.Tick = 5000123; // the pause counts from the answer, not from the request
      return c.Response;
    };
    auto req = Run("/assets/a.png");
    EXPECT_EQ(req->Completes, 1) << c.Name;
    EXPECT_EQ(req->Responses, 0) << c.Name;
    EXPECT_EQ(BlockedUntil.load(), c.Pause ? 5000123 + c.Pause : 0) << c.Name;
  }
}

TEST_F(GatewayCacheHandler, FailuresStillCompleteOnce) {
  // The browser refuses the response: the request goes to the cloud, completed once.
  Gateway.Answer = [](const THttpRequest&) { return Answer(200, "x", "image/png"); };
  auto req = std::make_shared<TFakeResourceRequest>(kServer + "/assets/a.png");
  req->SetResponseResult = false;
  TGatewayCacheHandler handler(kServer, kGateway, Ports());
  handler.Invoke(req);
  WaitForFetches();
  Queue.Drain();
  EXPECT_EQ(req->Completes, 1);
  EXPECT_EQ(req->Responses, 0);

  // The client throws, or no client can be made: no pause, completed once.
  Gateway.Answer = [](const THttpRequest&) -> THttpResponse { throw std::runtime_error("x"); };
  EXPECT_EQ(Run("/assets/a.png")->Completes, 1);
  TGatewayCacheHandler noClient(kServer, kGateway,
                                {&Queue, [] { return std::unique_ptr<IHttpClient>(); }, &System});
  auto req2 = std::make_shared<TFakeResourceRequest>(kServer + "/assets/a.png");
  noClient.Invoke(req2);
  WaitForFetches();
  Queue.Drain();
  EXPECT_EQ(req2->Completes, 1);
  EXPECT_EQ(BlockedUntil.load(), 0u);
}

TEST_F(GatewayCacheHandler, PauseBeginningAfterInterceptionSkipsFetch) {
  // The request passes Invoke's check; a pause begins before its thread runs.
  auto req = std::make_shared<TFakeResourceRequest>(kServer + "/assets/a.png");
  req->OnDefer = [&] { BlockedUntil = System.TickCount64() + kPauseBusyMs; };
  TGatewayCacheHandler handler(kServer, kGateway, Ports());
  handler.Invoke(req);
  WaitForFetches();
  Queue.Drain();
  EXPECT_EQ(req->Defers, 1);
  EXPECT_EQ(req->Completes, 1);
  EXPECT_EQ(req->Responses, 0);
  EXPECT_EQ(Gateway.Clients, 0);
}

TEST_F(GatewayCacheHandler, DroppedResponseStepStillCompletes) {
  test::TFakeUiQueue closing;
  Gateway.Answer = [](const THttpRequest&) { return Answer(200, "x", "image/png"); };
  TGatewayCacheHandler handler(kServer, kGateway, {&closing, Gateway.Factory(), &System});
  std::vector<std::shared_ptr<TFakeResourceRequest>> reqs;
  for (int i = 0; i < 5; ++i) {
    reqs.push_back(
        std::make_shared<TFakeResourceRequest>(kServer + "/assets/" + std::to_string(i) + ".png"));
    handler.Invoke(reqs.back());
  }
  WaitForFetches();
  for (auto& r : reqs) EXPECT_EQ(r->Completes, 0);
  closing.DropAll();
  for (auto& r : reqs) {
    EXPECT_EQ(r->Completes, 1);
    EXPECT_EQ(r->Responses, 0);
  }
}

TEST_F(GatewayCacheHandler, StopLeavesQueueAndSystemAlone) {
  // A fetch is under way (the gateway holds its answer) when the window closes.
  std::mutex gate;
  gate.lock();
  Gateway.Answer = [&](const THttpRequest&) {
    std::lock_guard<std::mutex> wait(gate);
    return Answer(429, "busy");
  };
  auto req = std::make_shared<TFakeResourceRequest>(kServer + "/assets/a.png");
  TGatewayCacheHandler handler(kServer, kGateway, Ports());
  handler.Invoke(req);
  for (int i = 0; i < 10000 && Gateway.Seen().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(Gateway.Seen().size(), 1u);

  StopGatewayCache();
  gate.unlock();
  WaitForFetches();
  EXPECT_EQ(Queue.Pending(), 0u);     // nothing queued after the stop
  EXPECT_EQ(BlockedUntil.load(), 0u); // and no pause written from the late answer
  EXPECT_EQ(req->Completes, 1);       // yet the request is released
  EXPECT_EQ(req->Responses, 0);

  // Nothing is taken any more.
  auto late = std::make_shared<TFakeResourceRequest>(kServer + "/assets/a.png");
  handler.Invoke(late);
  EXPECT_EQ(late->Defers, 0);
  RestartGatewayCacheForTests();
}

// A browser that records what the cache installs on it.
class TInstallBrowser : public IBrowser {
 public:
  TInstallBrowser() {
    // HookedWebViews outlives every test, so each fake gets an identity never used before.
    static std::deque<char> tokens; // addresses stay put as it grows
    tokens.emplace_back();
    FIdentity = &tokens.back();
  }
  bool WebView = true;
  bool RegisterResult = true;
  std::vector<std::string> Filters;
  int Registrations = 0;
  TResourceRequestedProc Handler;

  void Create(const TBrowserOptions&) override {}
  bool HasWebView() const override { return WebView; }
  const void* WebViewIdentity() const override { return WebView ? FIdentity : nullptr; }
  bool SetSetting(TBrowserSetting, bool) override { return true; }
  void AddScriptOnDocumentCreated(const std::string&) override {}
  void WhenConfigured(std::function<void()>) override {}
  void Navigate(const std::string&) override {}
  bool AddResourceFilter(const std::string& uriPattern) override {
    Filters.push_back(uriPattern);
    return false; // a failed filter changes nothing
  }
  bool SetResourceRequestedHandler(TResourceRequestedProc proc) override {
    ++Registrations;
    if (!RegisterResult) return false;
    Handler = std::move(proc);
    return true;
  }

 private:
  const void* FIdentity;
};

TEST_F(GatewayCacheHandler, InstallAddsTenFiltersOncePerWebView) {
  TInstallBrowser browser;
  InstallGatewayCache(browser, "  http://cloud.test:8080// ", " " + kGateway + "/ ", Ports());
  const std::vector<std::string> expected = {
      kServer + "/assets/*",
      kServer + "/product-image/*",
      kServer + "/shop/netfee-image/*",
      kServer + "/shop/news-image/*",
      kServer + "/avatar/*",
      kServer + "/shop/game-icon/*",
      kServer + "/brand-logo*",
      kServer + "/site-logo*",
      kServer + "/shop/catalog-version?*",
      kServer + "/seatmap/*/img/*",
  };
  EXPECT_EQ(browser.Filters, expected);
  EXPECT_EQ(browser.Registrations, 1);
  ASSERT_TRUE(browser.Handler);

  // The installed handler uses the trimmed addresses.
  Gateway.Answer = [](const THttpRequest&) { return Answer(200, "x", "image/png"); };
  auto req = std::make_shared<TFakeResourceRequest>(kServer + "/site-logo.png");
  browser.Handler(req);
  WaitForFetches();
  Queue.Drain();
  EXPECT_EQ(req->Responses, 1);
  ASSERT_EQ(Gateway.Seen().size(), 1u);
  EXPECT_EQ(Gateway.Seen()[0].Url, kGateway + "/cache?u=%2Fsite-logo.png");

  // A second call for the same web view adds nothing.
  InstallGatewayCache(browser, kServer, kGateway, Ports());
  EXPECT_EQ(browser.Filters.size(), 10u);
  EXPECT_EQ(browser.Registrations, 1);
}

TEST_F(GatewayCacheHandler, InstallNeedsWebViewAddressesAndRegistration) {
  TInstallBrowser noView;
  noView.WebView = false;
  InstallGatewayCache(noView, kServer, kGateway, Ports());
  TInstallBrowser noServer;
  InstallGatewayCache(noServer, "   ", kGateway, Ports());
  TInstallBrowser noGateway;
  InstallGatewayCache(noGateway, kServer, "", Ports());
  for (TInstallBrowser* b : {&noView, &noServer, &noGateway}) {
    EXPECT_TRUE(b->Filters.empty());
    EXPECT_EQ(b->Registrations, 0);
  }

  // A failed registration does not count as hooked: a later call tries again.
  TInstallBrowser refusing;
  refusing.RegisterResult = false;
  InstallGatewayCache(refusing, kServer, kGateway, Ports());
  EXPECT_EQ(refusing.Registrations, 1);
  refusing.RegisterResult = true;
  InstallGatewayCache(refusing, kServer, kGateway, Ports());
  EXPECT_EQ(refusing.Registrations, 2);
  EXPECT_EQ(refusing.Filters.size(), 20u);
}

} // namespace
} // namespace hb
