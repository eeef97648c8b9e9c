// The gateway cache against a real gateway on loopback (hallboard-demo) through the real HTTP
// client: what is served and how, the pauses after the gateway's answers, and that every
// deferred request is completed exactly once, also with many in flight.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "CurlHttpClient.h"
#include "DemoProcess.h"
#include "FakeResourceRequest.h"
#include "FakeSystem.h"
#include "FakeUiQueue.h"
#include "Json.h"
#include "shell/GatewayCache.h"

namespace hb {
namespace {

using test::TDemoProcess;
using test::TFakeResourceRequest;

const std::string kMediaPath =
    "/seatmap/5f2c8a91d04b4e7c9a3e61b0f7d2c845/img/0a1b2c3d4e5f60718293.png";
const std::string kCatalogPath = "/shop/catalog-version?NetBarId=1001";

class GatewayCacheLoopback : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Demo = new TDemoProcess(); }
  static void TearDownTestSuite() {
    delete Demo;
    Demo = nullptr;
  }

  void SetUp() override {
    Demo->SetFault(R"({"reset":true})");
    Demo->ResetStats();
    BlockedUntil = 0;
    Handler = std::make_unique<TGatewayCacheHandler>(Demo->CloudBase(), Demo->GatewayBase(),
                                                     Ports(Queue));
  }
  void TearDown() override {
    WaitForFetches();
    Queue.Drain();
    BlockedUntil = 0;
  }

  TGatewayCachePorts Ports(IUiQueue& queue) {
    return {&queue, [] { return std::make_unique<TCurlHttpClient>(); }, &System};
  }

  static void WaitForFetches(std::chrono::seconds limit = std::chrono::seconds(60)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (GatewayFetchesInFlight() > 0 && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(GatewayFetchesInFlight(), 0);
  }

  std::shared_ptr<TFakeResourceRequest> Request(const std::string& pathQuery) {
    return std::make_shared<TFakeResourceRequest>(Demo->CloudBase() + pathQuery);
  }

  // One request from interception to completion, the way the browser would run it.
  std::shared_ptr<TFakeResourceRequest> Run(const std::string& pathQuery) {
    auto req = Request(pathQuery);
    Handler->Invoke(req);
    WaitForFetches();
    Queue.Drain();
    return req;
  }

  // How many times the gateway was asked for pathQuery.
  int64_t CacheRequested(const std::string& pathQuery) {
    TJsonDocument stats = ParseJsonDocument(Demo->Stats(true));
    const TJsonValue* requested = FindJsonMember(stats.Object(), "cache_requested");
    return JsonValueInt64(FindJsonMember(requested, pathQuery), 0);
  }

  // The pause in force, counted from the fake clock that stands still during a test.
  uint64_t Pause() {
    uint64_t until = BlockedUntil.load();
    return until > System.TickCount64() ? until - System.TickCount64() : 0;
  }

  static TDemoProcess* Demo;
  test::TFakeUiQueue Queue;
  test::TFakeSystem System;
  std::unique_ptr<TGatewayCacheHandler> Handler;
};

TDemoProcess* GatewayCacheLoopback::Demo = nullptr;

TEST_F(GatewayCacheLoopback, ServesCloudFilesWithExactlyThreeHeaders) {
  struct TCase {
    std::string Path, ContentType, CacheControl;
  };
  const TCase cases[] = {
      {"/assets/seat-free.png", "image/png", "public, max-age=86400"},
      {"/product-image/cola.png", "image/png", "public, max-age=3600"},
      {"/brand-logo.png", "image/png", "public, max-age=86400"},
      {kMediaPath, "image/png", "public, max-age=31536000, immutable"},
      {kCatalogPath, "application/json; charset=utf-8", "no-cache"},
  };
  for (const TCase& c : cases) {
    auto req = Run(c.Path);
    EXPECT_EQ(req->Defers, 1) << c.Path;
    EXPECT_EQ(req->Completes, 1) << c.Path;
    ASSERT_EQ(req->Responses, 1) << c.Path;
    EXPECT_TRUE(req->AnsweredAtCompletion);
    EXPECT_EQ(req->Status, 200);
    EXPECT_EQ(req->Reason, "OK");
    // The demo gateway adds X-Demo-Extra; it must not reach the page.
    EXPECT_EQ(req->Headers, "Content-Type: " + c.ContentType +
                                "\r\nCache-Control: " + c.CacheControl + "\r\nX-QV-Cache: gateway");
    test::TDemoReply direct = TDemoProcess::Request(Demo->CloudPort(), "GET", c.Path);
    ASSERT_EQ(direct.Status, 200);
    EXPECT_EQ(req->Body, direct.Body) << c.Path;
    EXPECT_EQ(CacheRequested(c.Path), 1) << c.Path;
  }
  EXPECT_EQ(Pause(), 0u);
}

TEST_F(GatewayCacheLoopback, GatewayAnswersDecidePauses) {
  struct TCase {
    std::string Fault, Path;
    uint64_t Pause;
  };
  const TCase cases[] = {
      {R"({"cache":"429"})", "/assets/seat-free.png", 30000},
      {R"({"cache":"404-no-api"})", "/assets/seat-free.png", 600000},
      {R"({"cache":"404"})", "/assets/seat-free.png", 0},
      {R"({"cache":"500"})", "/assets/seat-free.png", 0},
      {R"({"cache":"empty"})", "/assets/seat-free.png", 0},
      {R"({"cache":"oversized"})", "/assets/seat-free.png", 0},
      {R"({"cache":"oversized"})", kMediaPath, 0},
      {R"({"gateway":"down"})", "/assets/seat-free.png", 60000},
      // The catalogue's 7 s answer time-out keeps this case short.
      {R"({"cache":"hang"})", kCatalogPath, 60000},
  };
  for (const TCase& c : cases) {
    Demo->SetFault(R"({"reset":true})");
    Demo->SetFault(c.Fault);
    BlockedUntil = 0;
    auto req = Run(c.Path);
    EXPECT_EQ(req->Defers, 1) << c.Fault;
    EXPECT_EQ(req->Completes, 1) << c.Fault;
    EXPECT_EQ(req->Responses, 0) << c.Fault; // falls back to the cloud
    EXPECT_EQ(Pause(), c.Pause) << c.Fault << " " << c.Path;
  }
}

TEST_F(GatewayCacheLoopback, PausedCacheLeavesRequestsToCloud) {
  Demo->SetFault(R"({"cache":"429"})");
  EXPECT_EQ(Run("/assets/seat-free.png")->Responses, 0);
  ASSERT_EQ(Pause(), 30000u);

  // Within the pause nothing is even deferred, and the gateway is not asked.
  Demo->SetFault(R"({"reset":true})");
  auto during = Run("/assets/seat-busy.png");
  EXPECT_EQ(during->Defers, 0);
  EXPECT_EQ(during->Completes, 0);
  System.Tick += 29999;
  EXPECT_EQ(Run("/assets/seat-busy.png")->Defers, 0);

  // Once the tick passes the pause the cache serves again.
  System.Tick += 1;
  auto after = Run("/assets/seat-busy.png");
  EXPECT_EQ(after->Completes, 1);
  EXPECT_EQ(after->Responses, 1);
  EXPECT_EQ(CacheRequested("/assets/seat-busy.png"), 1);
}

TEST_F(GatewayCacheLoopback, ManyInFlightEachCompletedOnce) {
  const std::string paths[] = {"/assets/seat-free.png",
                               "/assets/seat-busy.png",
                               "/avatar/staff-01.png",
                               "/site-logo.png",
                               kMediaPath,
                               kCatalogPath};
  std::vector<std::shared_ptr<TFakeResourceRequest>> reqs;
  for (int i = 0; i < 200; ++i) {
    reqs.push_back(Request(paths[i % std::size(paths)]));
    Handler->Invoke(reqs.back());
  }
  WaitForFetches();
  Queue.Drain();
  for (const auto& r : reqs) {
    EXPECT_EQ(r->Defers, 1);
    EXPECT_EQ(r->Completes, 1);
    EXPECT_EQ(r->Responses, 1);
  }
  int64_t asked = 0;
  for (const std::string& p : paths) asked += CacheRequested(p);
  EXPECT_EQ(asked, 200);
  EXPECT_EQ(Pause(), 0u);
}

TEST_F(GatewayCacheLoopback, WindowClosingStillCompletesEveryRequest) {
  test::TFakeUiQueue closing;
  TGatewayCacheHandler handler(Demo->CloudBase(), Demo->GatewayBase(), Ports(closing));
  std::vector<std::shared_ptr<TFakeResourceRequest>> reqs;
  for (int i = 0; i < 200; ++i) {
    reqs.push_back(Request(i % 2 ? "/assets/seat-free.png" : kMediaPath));
    handler.Invoke(reqs.back());
  }
  WaitForFetches();
  closing.DropAll();
  for (const auto& r : reqs) {
    EXPECT_EQ(r->Completes, 1);
    EXPECT_EQ(r->Responses, 0);
  }
}

} // namespace
} // namespace hb
