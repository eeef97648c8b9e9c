// The display window's construction, placement, cover and retry countdown.
#include "FormFixture.h"
#include "RecordingCanvas.h"

namespace hb {
namespace {

using test::TCanvasOp;
using test::TFormFixture;
using test::TRecordingCanvas;

TEST_F(TFormFixture, ConstructionPreparesWithoutStarting) {
  Settings.Gateway = "192.168.1.10";
  Make();
  EXPECT_TRUE(Sys.Awake);
  EXPECT_TRUE(Host.Cover);
  EXPECT_EQ(Form->CoverTitle(), "正在打开机位图");
  EXPECT_EQ(Form->CoverDetail(), "正在连接门店网关…");
  EXPECT_EQ(Form->CoverHint(), "右键可退出");
  EXPECT_FALSE(Form->RetryRunning());
  EXPECT_FALSE(Form->UpdateTimer().Enabled());
  EXPECT_EQ(Form->UpdateTimer().Interval(), 10000u);
  EXPECT_EQ(Browser.Creates, 0);
  EXPECT_EQ(Resolves, 0);
  EXPECT_EQ(Form->BrowserOptions().UserDataFolder, JoinPath(AppDataFolder(), "WebView2"));
  EXPECT_EQ(Form->BrowserOptions().Language, "zh-CN");
  EXPECT_EQ(Form->BrowserOptions().AdditionalArgs,
            "--disable-background-timer-throttling --disable-renderer-backgrounding "
            "--autoplay-policy=no-user-gesture-required");
  EXPECT_EQ(Form->Gateway(), "192.168.1.10");
  EXPECT_EQ(Form->CurrentMap(), -1);
  Form.reset();
  EXPECT_FALSE(Sys.Awake);
  EXPECT_FALSE(Browser.OnCreated); // no browser event can reach the destroyed window
}

TEST_F(TFormFixture, FirstShowRunsOnce) {
  struct TCase {
    std::string Gateway, Server, NetBar;
    bool UpdateTimer;
    int Resolves;
  };
  const TCase cases[] = {
      {"192.168.1.10", "", "", true, 1},
      {"", "https://cloud.example.cn", "1001", false, 1}, // hand-given: no gateway, no updates
  };
  for (const TCase& c : cases) {
    Resolves = 0;
    Browser.Creates = 0;
    Settings.Gateway = c.Gateway;
    Settings.ServerOverride = c.Server;
    Settings.NetBarOverride = c.NetBar;
    Make();
    Form->FirstShow();
    Deliver();
    Form->FirstShow();
    EXPECT_EQ(Browser.Creates, 1);
    EXPECT_EQ(Browser.LastOptions.Language, "zh-CN");
    EXPECT_EQ(Resolves, c.Resolves);
    EXPECT_EQ(Form->UpdateTimer().Enabled(), c.UpdateTimer) << c.Gateway;
    Form.reset();
  }
}

TEST_F(TFormFixture, PlacedOverTheConfiguredMonitor) {
  const TRect first{0, 0, 1920, 1080};
  const TRect second{1920, -200, 1280, 1024};
  Host.MonitorList = {{first, {0, 0, 1920, 1040}, 96}, {second, second, 120}};
  const struct {
    int Monitor;
    TRect Bounds;
  } cases[] = {{1, first}, {2, second}, {0, first}, {3, first}, {-1, first}, {INT32_MIN, first}};
  for (auto c : cases) {
    Settings.Monitor = c.Monitor;
    Make();
    ASSERT_FALSE(Host.Placements.empty());
    EXPECT_EQ(Host.Placements.back(), c.Bounds) << c.Monitor;
  }
  // No monitor reported at all: the window stays where the shell put it.
  Host.MonitorList.clear();
  Host.Placements.clear();
  Make();
  EXPECT_TRUE(Host.Placements.empty());
}

TEST_F(TFormFixture, MissingGatewayAddressShowsAdviceWithoutCountdown) {
  Settings.NetBarOverride = ""; // one hand-given value is not enough without a gateway host
  Make();
  Form->FirstShow();
  Browser.FireCreated(0);
  EXPECT_EQ(Resolves, 0);
  EXPECT_FALSE(Form->Resolving());
  EXPECT_EQ(Form->CoverTitle(), "还没有填写网关地址");
  EXPECT_NE(Form->CoverDetail().find(SettingsPath()), std::string::npos);
  EXPECT_EQ(Form->CoverHint(), "右键可退出");
  Clock.Advance(120000);
  EXPECT_FALSE(Form->RetryRunning());
  EXPECT_EQ(Resolves, 0);
  EXPECT_EQ(Log().find("M10"), std::string::npos); // nothing is logged for this case
}

TEST_F(TFormFixture, FailedResolutionCountsDownThenResolvesAgain) {
  SetAnswer(Failure());
  Start();
  EXPECT_EQ(Form->CoverTitle(), "连不上门店网关");
  EXPECT_EQ(Form->CoverDetail(), "打不开 192.168.1.10:58001。");
  std::vector<std::string> hints{Form->CoverHint()};
  for (int i = 0; i < 30; ++i) {
    Clock.Advance(1000);
    hints.push_back(Form->CoverHint());
  }
  for (int s = 30; s >= 0; --s)
    EXPECT_EQ(hints[30 - s], std::to_string(s) + " 秒后自动重试 · 右键可退出");
  // Right after 0: a new resolution, with the detail saying so.
  EXPECT_FALSE(Form->RetryRunning());
  EXPECT_EQ(Form->CoverDetail(), "正在重新连接门店网关…");
  EXPECT_TRUE(Form->Resolving());
  Deliver();
  EXPECT_EQ(Resolves, 2);
  EXPECT_TRUE(Browser.Navigations.empty());

  // Once a resolution has succeeded, a countdown ends in a navigation, never a resolution.
  SetAnswer(Success(test::ThreeStoreMaps()));
  Clock.Advance(30000);
  Deliver();
  EXPECT_EQ(Resolves, 3);
  ASSERT_EQ(Browser.Navigations.size(), 1u);
  Browser.FireNavigation(false, 7, 0); // cloud unreachable: countdown
  Clock.Advance(30000);
  EXPECT_EQ(Resolves, 3);
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_EQ(Queue.Pending(), 0u);
}

TEST_F(TFormFixture, CoverWithRetryWhileCountingRestartsAtThirty) {
  SetAnswer(Failure());
  Start();
  Clock.Advance(10000);
  EXPECT_EQ(Form->RetryLeft(), 20);
  Form->ShowCover("标题", "说明", true);
  EXPECT_EQ(Form->RetryLeft(), 30);
  EXPECT_EQ(Form->CoverHint(), "30 秒后自动重试 · 右键可退出");
  Clock.Advance(29000);
  EXPECT_EQ(Form->CoverHint(), "1 秒后自动重试 · 右键可退出");
  EXPECT_EQ(Resolves, 1);
  Clock.Advance(1000);
  Deliver();
  EXPECT_EQ(Resolves, 2);
}

TEST_F(TFormFixture, CoverWithoutRetryLeavesTheCountdownRunningUnseen) {
  SetAnswer(Failure());
  Start();
  Clock.Advance(5000);
  Form->ShowCover("缺少 WebView2 运行库", "说明", false);
  EXPECT_EQ(Form->CoverHint(), "右键可退出");
  EXPECT_TRUE(Form->RetryRunning());
  Clock.Advance(24000);
  EXPECT_EQ(Form->CoverHint(), "右键可退出"); // the count goes on without being shown
  EXPECT_EQ(Resolves, 1);
  Clock.Advance(1000);
  Deliver();
  EXPECT_EQ(Resolves, 2);
}

TEST_F(TFormFixture, HideCoverStopsOnlyAnUnseenCountdown) {
  Start();
  Form->ShowCover("连不上云端", "说明", true);
  Form->HideCover();
  EXPECT_FALSE(Host.Cover);
  EXPECT_TRUE(Form->RetryRunning()); // a shown countdown survives hiding
  Form->StartSilentRetry();
  EXPECT_FALSE(Form->RetryVisible());
  Form->HideCover();
  EXPECT_FALSE(Form->RetryRunning());
}

TEST_F(TFormFixture, ResultsAfterClosingAreDropped) {
  SetAnswer(Failure());
  Make();
  Form->FirstShow();
  // The resolution finishes only after the window has gone.
  ASSERT_TRUE(Queue.WaitPosts(1));
  Form.reset();
  EXPECT_EQ(Queue.Drain(), 1);
  EXPECT_EQ(Log().find("M10"), std::string::npos);
  EXPECT_TRUE(Browser.Navigations.empty());
}

TEST_F(TFormFixture, WakeUpAndCloseGoToTheHost) {
  Make();
  Form->WakeUp();
  Form->Close();
  EXPECT_EQ(Host.BringToFronts, 1);
  EXPECT_EQ(Host.Closes, 1);
}

TEST(CoverLayout, PlacesFollowTheClientSize) {
  struct TCase {
    TSize Client;
    TCoverLayout Layout;
  };
  const TCase cases[] = {
      {{1920, 1080},
       {{912, 390, 96, 96}, {40, 510, 1840, 48}, {580, 568, 760, 80}, {40, 658, 1840, 28}}},
      // Narrower than the detail: its left edge goes negative, still centred.
      {{600, 400},
       {{252, 50, 96, 96}, {40, 170, 520, 48}, {-80, 228, 760, 80}, {40, 318, 520, 28}}},
      // Odd sizes: every halving rounds toward zero, also below zero.
      {{601, 401},
       {{252, 50, 96, 96}, {40, 170, 521, 48}, {-79, 228, 760, 80}, {40, 318, 521, 28}}},
      {{0, 0}, {{-48, -150, 96, 96}, {40, -30, -80, 48}, {-380, 28, 760, 80}, {40, 118, -80, 28}}},
  };
  for (const TCase& c : cases) EXPECT_EQ(LayoutCover(c.Client), c.Layout) << c.Client.Width;
}

TEST_F(TFormFixture, CoverFollowsItsSizeAndPaintsEverythingInPlace) {
  Make();
  Form->CoverSize({600, 400});
  EXPECT_EQ(Form->CoverLayout(), LayoutCover({600, 400}));
  TRecordingCanvas canvas;
  Form->PaintCover(canvas);
  ASSERT_EQ(canvas.Records.size(), 5u);
  EXPECT_EQ(canvas.Records[0].Op, TCanvasOp::coFillRect);
  EXPECT_EQ(canvas.Records[0].Rect, (TRect{0, 0, 600, 400}));
  EXPECT_EQ(canvas.Records[0].Fill, 0x070D18u);
  EXPECT_EQ(canvas.Records[1].Op, TCanvasOp::coIcon);
  EXPECT_EQ(canvas.Records[1].Text, "MAINICON");
  EXPECT_EQ(canvas.Records[1].Rect, (TRect{252, 50, 96, 96}));
  const struct {
    std::string Text;
    TRect Rect;
    TFont Font;
    TColor Color;
    unsigned Flags;
  } texts[] = {
      {"正在打开机位图",
       {40, 170, 520, 48},
       {"Microsoft YaHei UI", 26, true},
       0xE6EEF6,
       tfCenter | tfSingleLine},
      {"正在连接门店网关…",
       {-80, 228, 760, 80},
       {"Microsoft YaHei UI", 14, false},
       0x8098B4,
       tfCenter | tfWordWrap},
      {"右键可退出",
       {40, 318, 520, 28},
       {"Microsoft YaHei UI", 11, false},
       0x6F88A0,
       tfCenter | tfSingleLine},
  };
  for (size_t i = 0; i < 3; ++i) {
    const auto& r = canvas.Records[2 + i];
    EXPECT_EQ(r.Op, TCanvasOp::coText);
    EXPECT_EQ(r.Text, texts[i].Text);
    EXPECT_EQ(r.Rect, texts[i].Rect);
    EXPECT_EQ(r.Font, texts[i].Font);
    EXPECT_EQ(r.Color, texts[i].Color);
    EXPECT_EQ(r.Flags, texts[i].Flags);
  }
}

} // namespace
} // namespace hb

namespace hb {
namespace {

using test::TFormFixture;

TEST_F(TFormFixture, DisplayChangesPlaceTheWindowOnTheChosenMonitorAgain) {
  const TMonitor primary{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96, true};
  const TMonitor tv{{1920, 0, 3840, 2160}, {1920, 0, 3840, 2160}, 144, false};
  // Start-up with the TV still off: the window covers the primary monitor.
  Host.MonitorList = {primary};
  Settings.Monitor = 2;
  Start();
  EXPECT_EQ(Host.Placements.back(), primary.Bounds);
  EXPECT_EQ(Form->Dpi(), 96);
  // The TV is switched on: the window moves over it, at its scale.
  Host.MonitorList = {primary, tv};
  Form->DisplayChanged();
  EXPECT_EQ(Host.Placements.back(), tv.Bounds);
  EXPECT_EQ(Form->Dpi(), 144);
  EXPECT_EQ(Form->CoverLayout(), LayoutCover({3840, 2160}, 144));
  // The TV goes away: the primary monitor, even when the system lists it second.
  const TMonitor other{{-1280, 0, 1280, 1024}, {-1280, 0, 1280, 984}, 96, false};
  Host.MonitorList = {other, primary};
  Form->DisplayChanged();
  EXPECT_EQ(Host.Placements.back(), primary.Bounds);
  // Back again, now at 200 %: over the TV's bounds, not a rescaled rectangle.
  const TMonitor tv200{tv.Bounds, tv.WorkArea, 192, false};
  Host.MonitorList = {primary, tv200};
  Form->DisplayChanged();
  EXPECT_EQ(Host.Placements.back(), tv.Bounds);
  EXPECT_EQ(Form->CoverLayout().Icon.Width, 192);
  // After closing nothing moves any more.
  const size_t placements = Host.Placements.size();
  Form.reset();
  EXPECT_EQ(Host.Placements.size(), placements);
}

TEST_F(TFormFixture, EachAnsweredNavigationGivesThePageTheKeyboard) {
  Start();
  Browser.FireNavigation(true, 0, 200);
  EXPECT_EQ(Browser.FocusMoves, 1);
  Browser.FireNavigation(true, 0, 404);
  EXPECT_EQ(Browser.FocusMoves, 2);
  // An open menu keeps the keyboard; an unanswered navigation leaves the cover in front.
  Form->ShowMenu();
  Browser.FireNavigation(true, 0, 200);
  EXPECT_EQ(Browser.FocusMoves, 2);
  Form->Menu()->Hide();
  Browser.FireNavigation(false, 7, 0);
  EXPECT_EQ(Browser.FocusMoves, 2);
}

} // namespace
} // namespace hb
