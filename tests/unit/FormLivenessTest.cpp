// The display window always ends up with its page or a countdown: the first navigation waits for
// the browser's set-up, a navigation that never finishes runs into a deadline, and a hung page
// makes one episode that ends in a new browser when the page stays hung.
#include <algorithm>

#include "FakeResourceRequest.h"
#include "FormFixture.h"
#include "shell/GatewayCache.h"

namespace hb {
namespace {

using test::TFormFixture;

constexpr const char* kFirstUrl =
    "https://cloud.example.cn/seatmap/display?NetBarId=1001&embed=1&m=11";

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) ++n;
  return n;
}

TEST_F(TFormFixture, FirstNavigationWaitsForTheSetUpUnlessTheBrowserHoldsThePage) {
  Browser.AutoConfirm = false;
  // A browser that holds pages back until its set-up is answered gets the map at once, one that
  // does not only after its answer; resolution first, then the browser, and the other way round.
  for (bool holds : {false, true})
    for (bool resolvedFirst : {true, false}) {
      SCOPED_TRACE(std::string(holds ? "holds" : "does not hold") +
                   (resolvedFirst ? ", resolved first" : ", created first"));
      Browser.HoldsPages = holds;
      Browser.Navigations.clear();
      Make();
      Form->FirstShow();
      if (resolvedFirst) Deliver();
      Browser.FireCreated(0);
      if (!resolvedFirst) Deliver();
      EXPECT_EQ(Browser.Scripts.size(), 3u);
      EXPECT_FALSE(Form->BrowserReady());
      EXPECT_EQ(Browser.Navigations.size(), holds ? 1u : 0u);
      Browser.FireConfigured();
      EXPECT_TRUE(Form->BrowserReady());
      EXPECT_EQ(Browser.Navigations, std::vector<std::string>{kFirstUrl}); // exactly once
      EXPECT_TRUE(Form->NavigationDeadlineRunning());                      // the navigation's own
      Browser.FireNavigation(true, 0, 200);
      EXPECT_FALSE(Host.Cover);
      EXPECT_FALSE(Form->NavigationDeadlineRunning());
    }
}

TEST_F(TFormFixture, BrowserThatHoldsPagesStillEndsAnUnansweredSetUpInANewBrowser) {
  Browser.AutoConfirm = false;
  Browser.HoldsPages = true;
  Start();
  ASSERT_EQ(Browser.Navigations.size(), 1u);
  // The page cannot arrive without the set-up; the wait is the set-up's, not the cloud's.
  Clock.Advance(kNavigationDeadlineMs);
  EXPECT_NE(Log().find("浏览器没有在 60 秒内完成设置"), std::string::npos) << Log();
  EXPECT_EQ(Log().find("[M104-"), std::string::npos) << Log();
  Clock.Advance(30000);
  EXPECT_EQ(Browser.Creates, 2);
  Browser.FireCreated(0);
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  Browser.FireConfigured();
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
}

TEST_F(TFormFixture, PageFailingBeforeTheSetUpIsAnsweredCountsDownOnce) {
  Browser.AutoConfirm = false;
  Browser.HoldsPages = true;
  Start();
  Browser.FireNavigation(false, 2, 0); // the cloud cannot be reached; no page to hold back
  EXPECT_EQ(Form->CoverTitle(), "连不上云端");
  EXPECT_TRUE(Form->NavigationDeadlineRunning()); // still watching the set-up
  Browser.FireConfigured();
  EXPECT_EQ(Browser.Navigations.size(), 1u); // the countdown decides when to try again
  EXPECT_FALSE(Form->NavigationDeadlineRunning());
  Clock.Advance(30000);
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
  EXPECT_EQ(Count(Log(), "[M104-"), 1u);
}

TEST_F(TFormFixture, RecreatedBrowserWaitsForItsOwnConfirmation) {
  Browser.AutoConfirm = false;
  Start();
  Browser.FireConfigured();
  ASSERT_EQ(Browser.Navigations.size(), 1u);
  Browser.FireNavigation(true, 0, 200);

  Browser.FireProcessFailed(pfBrowserProcessExited);
  Clock.Advance(30000);
  ASSERT_EQ(Browser.Creates, 2);
  Browser.FireCreated(0);
  // A confirmation the old web view still had pending belongs to it, not to the new one.
  Browser.FireProcessFailed(pfBrowserProcessExited);
  std::vector<std::function<void()>> stale;
  Clock.Advance(30000);
  Browser.FireCreated(0);
  stale = Browser.ConfiguredWaiters;
  Browser.FireProcessFailed(pfBrowserProcessExited);
  for (auto& w : stale) w();
  EXPECT_FALSE(Form->BrowserReady());
  EXPECT_EQ(Browser.Navigations.size(), 1u);

  Clock.Advance(30000);
  Browser.FireCreated(0);
  EXPECT_EQ(Browser.Navigations.size(), 1u);
  Browser.FireConfigured();
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
}

TEST_F(TFormFixture, SetUpNeverConfirmedEndsInANewBrowser) {
  Browser.AutoConfirm = false;
  Start();
  Clock.Advance(kNavigationDeadlineMs - 1);
  EXPECT_EQ(Log().find("[M105-"), std::string::npos);
  Clock.Advance(1);
  EXPECT_NE(Log().find("浏览器没有在 60 秒内完成设置"), std::string::npos) << Log();
  EXPECT_TRUE(Host.Cover);
  EXPECT_EQ(Form->CoverTitle(), "机位图页面出错了");
  EXPECT_TRUE(Form->RetryVisible());
  Clock.Advance(30000);
  EXPECT_EQ(Browser.Creates, 2);
  Browser.FireCreated(0);
  Browser.FireConfigured();
  EXPECT_EQ(Browser.Navigations, std::vector<std::string>{kFirstUrl});
}

TEST_F(TFormFixture, NavigationWithoutAnOutcomeRunsIntoTheDeadline) {
  Start();
  ASSERT_EQ(Browser.Navigations.size(), 1u);
  EXPECT_TRUE(Form->NavigationDeadlineRunning());
  Clock.Advance(kNavigationDeadlineMs - 1);
  EXPECT_EQ(Form->CoverTitle(), "正在打开机位图");
  Clock.Advance(1);
  // As if the cloud had not answered: M104 with WebView2's "timeout" status and the countdown.
  EXPECT_NE(Log().find("打开机位图失败 WebErrorStatus=7"), std::string::npos) << Log();
  EXPECT_EQ(Form->CoverTitle(), "连不上云端");
  EXPECT_EQ(Form->CoverHint(), "30 秒后自动重试 · 右键可退出");
  EXPECT_FALSE(Form->NavigationDeadlineRunning());
  Clock.Advance(30000);
  ASSERT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_TRUE(Form->NavigationDeadlineRunning()); // each navigation has its own deadline
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
  EXPECT_FALSE(Form->NavigationDeadlineRunning());
  Clock.Advance(10 * kNavigationDeadlineMs);
  EXPECT_EQ(Count(Log(), "[M104-"), 1u);
  EXPECT_EQ(Browser.Navigations.size(), 2u);
}

// A slow gateway: the page waits for a resource the cache holds (a real fetch thread blocked in
// the gateway's answer). The deadline is put off while the cache holds it, by at most the cache's
// longest hold; once the gateway answers the page finishes, and a page that still does not is
// declared unanswered when the extension runs out, or one step after the cache went quiet.
TEST_F(TFormFixture, DeadlineWaitsForRequestsTheGatewayCacheHolds) {
  std::mutex gateMutex;
  std::condition_variable gate;
  bool open = false;
  std::atomic<int> asked{0};
  auto release = [&] {
    {
      std::lock_guard<std::mutex> lock(gateMutex);
      open = true;
    }
    gate.notify_all();
  };
  Settings.Gateway = "192.168.1.10";
  TFormPorts p = Ports();
  p.NewHttp = [&] {
    auto client = std::make_unique<test::TFakeHttpClient>();
    client->SetHandler([&](const THttpRequest&) {
      ++asked;
      std::unique_lock<std::mutex> lock(gateMutex);
      gate.wait(lock, [&] { return open; });
      // An answer the cache does not take (the page then asks the cloud), without a pause.
      return test::TFakeHttpClient::Answer(500, "");
    });
    return std::unique_ptr<IHttpClient>(std::move(client));
  };
  Settle();
  Form = std::make_unique<THallBoardForm>(std::move(p));
  Form->FirstShow();
  Browser.FireCreated(0);
  Deliver();
  ASSERT_EQ(Browser.Navigations.size(), 1u);
  ASSERT_TRUE(Browser.ResourceHandler);
  auto request = std::make_shared<test::TFakeResourceRequest>(
      "https://cloud.example.cn/shop/catalog-version?NetBarId=1001");
  Browser.ResourceHandler(request);
  for (int i = 0; i < 10000 && asked == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(asked, 1);
  ASSERT_EQ(GatewayFetchesInFlight(), 1);
  // Past the plain deadline, and up to just before the longest hold has also passed: still the
  // starting cover, no M104.
  Clock.Advance(kNavigationDeadlineMs + kCacheLongestHoldMs - kDeadlineRecheckMs);
  EXPECT_EQ(Log().find("[M104-"), std::string::npos) << Log();
  EXPECT_EQ(Form->CoverTitle(), "正在打开机位图");
  EXPECT_TRUE(Form->NavigationDeadlineRunning());
  // The extension is bounded even while the gateway keeps holding.
  Clock.Advance(kDeadlineRecheckMs);
  EXPECT_EQ(Count(Log(), "[M104-"), 1u) << Log();
  EXPECT_NE(Log().find("WebErrorStatus=7"), std::string::npos);
  release();
  for (int i = 0; i < 10000 && GatewayFetchesInFlight() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Queue.Drain();
  // A navigation whose resource the gateway answers in time finishes before the extension ends.
  {
    std::lock_guard<std::mutex> lock(gateMutex);
    open = false;
  }
  Clock.Advance(30000);
  ASSERT_EQ(Browser.Navigations.size(), 2u);
  Browser.ResourceHandler(std::make_shared<test::TFakeResourceRequest>(
      "https://cloud.example.cn/shop/catalog-version?NetBarId=1001"));
  for (int i = 0; i < 10000 && asked < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(asked, 2);
  Clock.Advance(kNavigationDeadlineMs + 40000);
  release();
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
  EXPECT_EQ(Count(Log(), "[M104-"), 1u);
  for (int i = 0; i < 10000 && GatewayFetchesInFlight() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Queue.Drain();
  // The answer comes just before a look at the cache, the load event just after it: the page
  // gets one more step to finish. One that still does not is then declared unanswered.
  for (const bool finishes : {true, false}) {
    SCOPED_TRACE(finishes);
    {
      std::lock_guard<std::mutex> lock(gateMutex);
      open = false;
    }
    const size_t navigations = Browser.Navigations.size();
    const int before = asked;
    Form->RefreshMap();
    ASSERT_EQ(Browser.Navigations.size(), navigations + 1);
    Browser.ResourceHandler(std::make_shared<test::TFakeResourceRequest>(
        "https://cloud.example.cn/shop/catalog-version?NetBarId=1001"));
    for (int i = 0; i < 10000 && asked == before; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(asked, before + 1);
    Clock.Advance(kNavigationDeadlineMs);
    release();
    for (int i = 0; i < 10000 && GatewayFetchesInFlight() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Queue.Drain();
    Clock.Advance(kDeadlineRecheckMs);
    EXPECT_EQ(Count(Log(), "[M104-"), 1u) << Log();
    EXPECT_TRUE(Form->NavigationDeadlineRunning());
    if (finishes) {
      Browser.FireNavigation(true, 0, 200);
      EXPECT_FALSE(Host.Cover);
      EXPECT_FALSE(Form->NavigationDeadlineRunning());
    } else {
      Clock.Advance(kDeadlineRecheckMs);
      EXPECT_EQ(Count(Log(), "[M104-"), 2u) << Log();
    }
  }
}

TEST_F(TFormFixture, HungPageIsOneEpisodeAndEndsInANewBrowserWhenStillHung) {
  Start();
  Browser.FireNavigation(true, 0, 200);
  // The browser repeats "unresponsive" every five seconds for as long as the page hangs.
  for (int i = 0; i < 5; ++i) {
    Browser.FireProcessFailed(pfRenderProcessUnresponsive);
    EXPECT_EQ(Form->RetryLeft(), kRetrySeconds - 5 * i) << i; // never set back to 30
    Sys.Tick += 5000;
    Clock.Advance(5000);
  }
  EXPECT_EQ(Count(Log(), "[M105-"), 1u) << Log();
  EXPECT_TRUE(Form->HungEpisode());
  EXPECT_EQ(Browser.Creates, 1);
  EXPECT_EQ(Browser.Navigations.size(), 1u);
  Browser.FireProcessFailed(pfRenderProcessUnresponsive);
  Sys.Tick += 5000;
  Clock.Advance(5000);
  // The countdown ran out while the page was still hung: a new browser, then the page.
  EXPECT_FALSE(Form->RetryRunning());
  EXPECT_EQ(Browser.Creates, 2);
  EXPECT_FALSE(Form->HungEpisode());
  Browser.FireCreated(0);
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
  // A later hang is a new episode with its own line.
  Browser.FireProcessFailed(pfRenderProcessUnresponsive);
  EXPECT_EQ(Count(Log(), "[M105-"), 2u);
}

// The runtime repeats "unresponsive" about every 15 seconds; a repeat that comes a moment late
// still marks the page hung when the countdown ends.
TEST_F(TFormFixture, HungPageWithALateRepeatIsStillHung) {
  Start();
  Browser.FireNavigation(true, 0, 200);
  Browser.FireProcessFailed(pfRenderProcessUnresponsive);
  Sys.Tick += 14000;
  Clock.Advance(14000);
  Browser.FireProcessFailed(pfRenderProcessUnresponsive);
  Sys.Tick += 16000; // the next repeat is due about now, a little late
  Clock.Advance(16000);
  EXPECT_EQ(Browser.Creates, 2);
}

TEST_F(TFormFixture, HungPageThatRecoversIsNavigatedAgainWithoutANewBrowser) {
  Start();
  Browser.FireNavigation(true, 0, 200);
  Browser.FireProcessFailed(pfRenderProcessUnresponsive);
  Sys.Tick += 3000;
  Clock.Advance(3000);
  Browser.FireProcessFailed(pfRenderProcessUnresponsive);
  // The browser stops repeating: the page answers again.
  Sys.Tick += kStillHungMs + 1;
  Clock.Advance(27000);
  EXPECT_EQ(Browser.Creates, 1);
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_EQ(Count(Log(), "[M105-"), 1u);
}

} // namespace
} // namespace hb
