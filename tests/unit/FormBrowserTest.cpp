// The display window's browser side: configuration, creation failure, navigation outcomes,
// the web message, page-process failures, and when the first navigation happens.
#include "FormFixture.h"
#include "display/BrowserHost.h"
#include "display/PageScripts.h"
#include "shell/TestTimers.h"

namespace hb {
namespace {

using test::TFormFixture;

constexpr const char* kFirstUrl =
    "https://cloud.example.cn/seatmap/display?NetBarId=1001&embed=1&m=11";

TEST_F(TFormFixture, CreatedBrowserIsLockedDownAndGetsItsScriptsInOrder) {
  Settings.HideCursor = false;
  Make();
  Form->FirstShow();
  Browser.Unsupported = {TBrowserSetting::bsPinchZoom, TBrowserSetting::bsSwipeNavigation};
  Browser.FireCreated(0);
  const std::vector<std::pair<TBrowserSetting, bool>> expected = {
      {TBrowserSetting::bsDefaultContextMenus, false},
      {TBrowserSetting::bsStatusBar, false},
      {TBrowserSetting::bsDevTools, false},
      {TBrowserSetting::bsZoomControl, false},
      {TBrowserSetting::bsWebMessages, true},
      {TBrowserSetting::bsAcceleratorKeys, false},
      {TBrowserSetting::bsPasswordAutosave, false},
      {TBrowserSetting::bsGeneralAutofill, false},
  };
  EXPECT_EQ(Browser.Settings, expected); // the missing newer switches are skipped quietly
  ASSERT_EQ(Browser.Scripts.size(), 3u);
  EXPECT_EQ(Browser.Scripts[0], kDragReloadScript);
  EXPECT_EQ(Browser.Scripts[1], std::string("window.__hbHideCursor=false;") + kPageScript);
  EXPECT_EQ(Browser.Scripts[2], kInputScript);
  EXPECT_TRUE(Form->BrowserReady());
  EXPECT_TRUE(Browser.OnNavigationCompleted);
  Deliver();

  Settings.HideCursor = true;
  Make();
  Form->FirstShow();
  Browser.FireCreated(0);
  ASSERT_EQ(Browser.Scripts.size(), 3u);
  EXPECT_EQ(Browser.Scripts[1].rfind("window.__hbHideCursor=true;(function(){", 0), 0u);
  Deliver();
}

TEST_F(TFormFixture, FirstNavigationWhicheverFinishesLast) {
  Settings.Gateway = "192.168.1.10";
  // Browser first, then the resolution.
  Make();
  Form->FirstShow();
  Browser.FireCreated(0);
  EXPECT_TRUE(Browser.Navigations.empty());
  Deliver();
  EXPECT_EQ(Browser.Navigations, std::vector<std::string>{kFirstUrl});
  EXPECT_TRUE(Form->CacheHooked());

  // The resolution first, then the browser.
  Browser.Navigations.clear();
  Make();
  Form->FirstShow();
  Deliver();
  EXPECT_TRUE(Browser.Navigations.empty());
  EXPECT_EQ(Form->ServerUrl(), "https://cloud.example.cn");
  Browser.FireCreated(0);
  EXPECT_EQ(Browser.Navigations, std::vector<std::string>{kFirstUrl});
}

TEST_F(TFormFixture, NoGatewayCacheWithoutAGatewayHost) {
  Start();
  EXPECT_EQ(Browser.Navigations.size(), 1u);
  EXPECT_FALSE(Form->CacheHooked());
  EXPECT_TRUE(Browser.Filters.empty());
}

TEST_F(TFormFixture, NavigationOutcomes) {
  // Logged: "" for nothing, "M104" for the cover's problem report, else a fragment of the line.
  struct TCase {
    TNavSource Source;
    bool Success;
    int32_t WebError;
    int32_t Http;
    bool Cover;
    bool Retry;
    bool RetryVisible;
    const char* Logged;
  };
  const TCase cases[] = {
      {nsOwn, true, 0, 200, false, false, false, ""},
      {nsOwn, true, 0, 0, false, false, false, ""},
      {nsOwn, false, 3, 200, false, false, false, ""}, // a server answered: counts as shown
      {nsOwn, false, 3, 1, false, false, false, ""},
      {nsOwn, false, 3, 399, false, false, false, ""},
      {nsOwn, true, 0, 400, false, true, false, "机位图页面返回 HTTP 400"}, // first error status
      {nsOwn, false, 3, 400, false, true, false, "机位图页面返回 HTTP 400"},
      {nsOwn, true, 0, 404, false, true, false, "返回 HTTP 404"}, // error page stays, silent reload
      {nsOwn, false, 3, 500, false, true, false, "返回 HTTP 500"},
      {nsOwn, false, 7, 0, true, true, true, "M104"}, // no answer at all: M104 and the countdown
      {nsOwn, false, 0, 0, true, true, true, "M104"},
      // A navigation of ours that a later one replaced ends cancelled: it decides nothing, and
      // the deadline of the one under way keeps running.
      {nsReplaced, false, 14, 0, true, false, false, ""},
      {nsReplaced, true, 0, 200, true, false, false, ""},
      {nsReplaced, true, 0, 500, true, false, false, ""},
      // The page's own navigations never raise a cover nor report M104; an error they lead to
      // is left quietly for the map, one log line each.
      {nsPage, true, 0, 200, true, false, false, ""},
      {nsPage, false, 14, 0, true, false, false, ""}, // stopped on purpose
      {nsPage, true, 0, 502, true, true, false, "页面自己打开的网页返回 HTTP 502"},
      {nsPage, false, 12, 0, true, true, false, "没有打开 WebErrorStatus=12"},
  };
  for (const TCase& c : cases) {
    Make();
    Form->FirstShow();
    Browser.FireCreated(0);
    Deliver();
    const size_t navigations = Browser.Navigations.size();
    const size_t logSize = Log().size();
    const int focusMoves = Browser.FocusMoves;
    Browser.FireNavigation(c.Success, c.WebError, c.Http, c.Source);
    const std::string trace = std::to_string(c.Source) + "/" + std::to_string(c.Success) + "/" +
                              std::to_string(c.WebError) + "/" + std::to_string(c.Http);
    EXPECT_EQ(Host.Cover, c.Cover) << trace;
    EXPECT_EQ(Form->RetryRunning(), c.Retry) << trace;
    EXPECT_EQ(Form->RetryVisible(), c.RetryVisible) << trace;
    // Only the program's own page takes the keyboard.
    EXPECT_EQ(Browser.FocusMoves > focusMoves, c.Source == nsOwn && !c.Cover) << trace;
    const std::string logged = Log().substr(logSize);
    if (std::string(c.Logged) == "M104") {
      EXPECT_NE(logged.find("[M104-"), std::string::npos) << logged;
      EXPECT_NE(logged.find("打开机位图失败 WebErrorStatus=" + std::to_string(c.WebError)),
                std::string::npos)
          << logged;
      EXPECT_EQ(Form->CoverTitle(), "连不上云端");
      EXPECT_EQ(Form->CoverDetail(),
                "门店网关已连上，但打不开云端的机位图。请检查这台电脑能不能上网，稍后会自动重试。");
      EXPECT_EQ(Form->CoverHint(), "30 秒后自动重试 · 右键可退出");
    } else if (*c.Logged) {
      EXPECT_NE(logged.find(c.Logged), std::string::npos) << trace << ": " << logged;
      EXPECT_EQ(logged.find("[M104-"), std::string::npos) << trace;
    } else {
      EXPECT_EQ(logged, "") << trace;
    }
    // The deadline of our own navigation is ended only by its own completion.
    EXPECT_EQ(Form->NavigationDeadlineRunning(), c.Source != nsOwn) << trace;
    // Whatever was armed ends in one new navigation 30 seconds later, the cover unchanged.
    Clock.Advance(30000);
    EXPECT_EQ(Browser.Navigations.size(), navigations + (c.Retry ? 1 : 0)) << trace;
    EXPECT_EQ(Host.Cover, c.Cover) << trace;
  }
}

TEST(BrowserHost, TheCloudsOriginIsSchemeHostAndPortAsTheBrowserWritesThem) {
  struct TCase {
    const char* Url;
    const char* Origin;
  } cases[] = {
      {"http://127.0.0.1:8080/seatmap/display?m=2", "http://127.0.0.1:8080"},
      {"HTTP://Cloud.Example/a", "http://cloud.example"},
      {"http://cloud.example:80/a", "http://cloud.example"},
      {"https://cloud.example:443?x", "https://cloud.example"},
      {"https://cloud.example:8443#f", "https://cloud.example:8443"},
      {"http://user:pw@cloud.example/", "http://cloud.example"},
      {"http://[::1]:80/", "http://[::1]"},
      {"http://[::1]:81/", "http://[::1]:81"},
      {"ftp://cloud.example/", ""},
      {"data:text/html,x", ""},
      {"javascript:alert(1)", ""},
      {"http:///nohost", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(OriginOf(c.Url), c.Origin) << c.Url;
}

TEST_F(TFormFixture, AnotherDocumentLeftWithoutInputForThreeMinutesGivesWayToTheMap) {
  // Steps after the map's page was shown: a page's navigation (its address, success), input
  // ("i"), or time passing; then whether the map was asked for again.
  const std::string map = kFirstUrl;
  const std::string other = "https://cloud.example.cn/shop/news?id=3";
  struct TStep {
    char Kind; // 'p': the page's navigation, 'o': our own, 'i': input, 't': time passes
    std::string Uri;
    bool Success;
    uint32_t Ms;
  };
  struct TCase {
    const char* Name;
    std::vector<TStep> Steps;
    bool Returns;
  };
  const TCase cases[] = {
      {"another document, nobody there", {{'p', other, true, 0}, {'t', "", true, 180000}}, true},
      {"not yet", {{'p', other, true, 0}, {'t', "", true, 179000}}, false},
      {"input holds it off",
       {{'p', other, true, 0},
        {'t', "", true, 170000},
        {'i', "", true, 0},
        {'t', "", true, 170000}},
       false},
      {"the map's own view changes",
       {{'p', map + "#seat-12", true, 0}, {'t', "", true, 200000}},
       false},
      {"back on the map",
       {{'p', other, true, 0}, {'p', map, true, 0}, {'t', "", true, 200000}},
       false},
      {"a failed one is the reload's business",
       {{'p', other, false, 0},
        {'t', "", true, 30000},
        {'o', map, true, 0},
        {'t', "", true, 200000}},
       false},
      {"the program chose again",
       {{'p', other, true, 0}, {'o', map, true, 0}, {'t', "", true, 200000}},
       false},
      {"an address the browser does not tell", {{'p', "", true, 0}, {'t', "", true, 180000}}, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Start();
    Browser.FireNavigation(true, 0, 200, nsOwn, map);
    const size_t navigations = Browser.Navigations.size();
    const size_t logSize = Log().size();
    for (const TStep& s : c.Steps) {
      if (s.Kind == 'p') Browser.FireNavigation(s.Success, s.Success ? 0 : 12, 0, nsPage, s.Uri);
      if (s.Kind == 'o') Browser.FireNavigation(s.Success, 0, 200, nsOwn, s.Uri);
      if (s.Kind == 'i') Browser.FireWebMessage("\"input\"");
      if (s.Kind == 't') Clock.Advance(s.Ms);
    }
    // A failed page navigation has its own quiet reload; only the return is counted here.
    const size_t reloads = c.Steps[0].Success ? 0 : 1;
    EXPECT_EQ(Browser.Navigations.size(), navigations + reloads + (c.Returns ? 1 : 0));
    if (c.Returns) {
      EXPECT_EQ(Browser.Navigations.back(), map);
    }
    EXPECT_EQ(Log().substr(logSize).find(IdleResetText()) != std::string::npos, c.Returns);
    EXPECT_FALSE(Host.Cover);
  }
}

TEST_F(TFormFixture, HttpErrorReloadsAgainAndAgain) {
  Start();
  for (int i = 0; i < 3; ++i) {
    Browser.FireNavigation(true, 0, 502);
    Clock.Advance(30000);
  }
  EXPECT_EQ(Browser.Navigations.size(), 4u);
  EXPECT_FALSE(Host.Cover);
}

TEST_F(TFormFixture, MissingRuntimeCoverStaysWhileTheProgramLooksAgainQuietly) {
  Make();
  Form->FirstShow();
  Browser.FireCreated(static_cast<int32_t>(0x80070002u));
  const std::string log = Log();
  const size_t at = log.find("[M103-");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string tag = log.substr(at + 1, log.find(']', at) - at - 1);
  EXPECT_NE(log.find("WebView2 初始化失败 HRESULT=80070002"), std::string::npos) << log;
  EXPECT_EQ(log.find("HRESULT=80070002 "), std::string::npos) << log; // the code ends the line
  EXPECT_EQ(Form->CoverTitle(), "缺少 WebView2 运行库");
  const std::string detail = "这台电脑需要先安装 Microsoft Edge WebView2 "
                             "运行库（与收银端相同），装好后重新打开机位图。错误码 " +
                             tag;
  EXPECT_EQ(Form->CoverDetail(), detail);
  EXPECT_EQ(Form->CoverHint(), "右键可退出");
  EXPECT_FALSE(Form->RetryRunning());
  EXPECT_TRUE(Form->RuntimeRecheckRunning());
  // The resolution still completes, but nothing navigates and nothing counts down.
  Deliver();
  Clock.Advance(120000);
  EXPECT_TRUE(Browser.Navigations.empty());
  EXPECT_EQ(Browser.Creates, 1);
  // Every five minutes a quiet look: still missing changes nothing on screen or in the log.
  Clock.Advance(180000);
  EXPECT_EQ(Browser.Creates, 2);
  Browser.FireCreated(static_cast<int32_t>(0x80070002u));
  EXPECT_EQ(Log(), log);
  EXPECT_EQ(Form->CoverDetail(), detail);
  EXPECT_FALSE(Form->RetryRunning());
  // Installed meanwhile: the next look takes it and the map follows.
  Clock.Advance(300000);
  EXPECT_EQ(Browser.Creates, 3);
  Browser.FireCreated(0);
  EXPECT_EQ(Form->CoverTitle(), "正在打开机位图");
  EXPECT_EQ(Browser.Navigations, std::vector<std::string>{kFirstUrl});
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
  EXPECT_FALSE(Form->RuntimeRecheckRunning());
  Clock.Advance(600000);
  EXPECT_EQ(Browser.Creates, 3);
}

// "刷新" behind the missing cover looks at once instead of waiting for the next quiet look.
TEST_F(TFormFixture, RefreshBehindTheMissingCoverLooksAtOnce) {
  Make();
  Form->FirstShow();
  Browser.FireCreated(static_cast<int32_t>(0x80070002u));
  Deliver();
  Form->RefreshMap();
  EXPECT_EQ(Browser.Creates, 2);
  Browser.FireCreated(0);
  EXPECT_EQ(Browser.Navigations.size(), 1u);
}

// Everything but a missing runtime may pass: its own words and code in the M103 line and on the
// cover, and the countdown that creates the browser again.
TEST_F(TFormFixture, OtherCreationFailuresAreWordedAndTriedAgain) {
  const struct {
    uint32_t Code;
    const char* Words;
  } cases[] = {
      {0x8007139Fu, "浏览器的数据文件夹还被上一个浏览器进程占用"},
      {0x800700AAu, "浏览器的数据文件夹正被占用"},
      {0x80070070u, "磁盘已满"},
      {0x80070005u, "没有权限"},
      {0x80004004u, "启动被中止"},
      {0x8000FFFFu, "出了意外"},
      {0x80004005u, "浏览器启动失败"},
      {0xFFFFFFFFu, "浏览器启动失败"},
  };
  for (const auto& c : cases) {
    Make();
    const int creates = Browser.Creates;
    const size_t navigations = Browser.Navigations.size();
    Form->FirstShow();
    Deliver();
    Browser.FireCreated(static_cast<int32_t>(c.Code));
    char code[16];
    std::snprintf(code, sizeof code, "%X", c.Code);
    const std::string log = Log();
    const size_t line = log.rfind(std::string("WebView2 初始化失败 HRESULT=") + code + " ");
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_NE(log.find(c.Words, line), std::string::npos) << log;
    EXPECT_EQ(Form->CoverTitle(), "浏览器没有启动") << code;
    EXPECT_NE(Form->CoverDetail().find(c.Words), std::string::npos) << Form->CoverDetail();
    EXPECT_NE(Form->CoverDetail().find("稍后会自动重试。错误码 M103-"), std::string::npos);
    EXPECT_EQ(Form->CoverHint(), "30 秒后自动重试 · 右键可退出");
    EXPECT_FALSE(Form->RuntimeRecheckRunning());
    // The resolution arrived meanwhile; the browser still waits for its countdown.
    EXPECT_EQ(Browser.Creates, creates + 1);
    Clock.Advance(30000);
    EXPECT_EQ(Browser.Creates, creates + 2) << code;
    Browser.FireCreated(0);
    EXPECT_EQ(Browser.Navigations.size(), navigations + 1) << code;
    Browser.FireNavigation(true, 0, 200);
    EXPECT_FALSE(Host.Cover) << code;
  }
}

TEST_F(TFormFixture, CreationRetriesBackOffToFiveMinutesAndASuccessStartsAgainAt30) {
  Make();
  Form->FirstShow();
  Deliver();
  for (int seconds : {30, 60, 120, 240, 300, 300}) {
    const int creates = Browser.Creates;
    Browser.FireCreated(static_cast<int32_t>(0x8007139Fu));
    EXPECT_EQ(Form->RetryLeft(), seconds);
    EXPECT_EQ(Form->CoverHint(), std::to_string(seconds) + " 秒后自动重试 · 右键可退出");
    Clock.Advance(static_cast<uint64_t>(seconds) * 1000 - 1000);
    EXPECT_EQ(Browser.Creates, creates) << seconds;
    Clock.Advance(1000);
    EXPECT_EQ(Browser.Creates, creates + 1) << seconds;
  }
  Browser.FireCreated(0);
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
  EXPECT_EQ(Form->CreateFailures(), 0);
  // The browser process goes later and its first re-creation fails: 30 seconds again.
  Browser.FireProcessFailed(pfBrowserProcessExited);
  Clock.Advance(30000);
  Browser.FireCreated(static_cast<int32_t>(0x8007139Fu));
  EXPECT_EQ(Form->RetryLeft(), 30);
}

// A creation the runtime never answers is given up at the deadline and tried again; its late
// answer changes nothing.
TEST_F(TFormFixture, CreationHasADeadline) {
  Make();
  Form->FirstShow();
  Deliver();
  EXPECT_TRUE(Form->NavigationDeadlineRunning());
  Clock.Advance(kNavigationDeadlineMs);
  EXPECT_NE(Log().find("WebView2 初始化失败 HRESULT=800705B4 浏览器没有在 60 秒内启动"),
            std::string::npos)
      << Log();
  EXPECT_EQ(Form->CoverTitle(), "浏览器没有启动");
  EXPECT_TRUE(Form->RetryRunning());
  Browser.FireCreated(0); // the late answer of the creation given up
  EXPECT_TRUE(Browser.Navigations.empty());
  EXPECT_EQ(Form->CoverTitle(), "浏览器没有启动");
  Clock.Advance(30000);
  EXPECT_EQ(Browser.Creates, 2);
  Browser.FireCreated(0);
  EXPECT_EQ(Browser.Navigations, std::vector<std::string>{kFirstUrl});
}

#if HB_TEST_TIMERS
// The test runs' divisor shortens the browser's own waits as well: the creation deadline (but
// not below the room a slow machine needs to start a browser), the countdown's back-off, the
// quiet look for a runtime installed later, and the quiet moment for a new version.
TEST_F(TFormFixture, TheTestDivisorShortensTheBrowsersWaits) {
  struct TDivisor {
    TDivisor() { SetTestTimeDivisor(30); }
    ~TDivisor() { SetTestTimeDivisor(1); }
  } divisor;
  Browser.Version = "120.0.2210.91";
  Make();
  Form->FirstShow();
  Deliver();
  Clock.Advance(kShortestTestDeadlineMs - 1);
  EXPECT_EQ(Log().find("HRESULT=800705B4"), std::string::npos) << Log();
  Clock.Advance(1);
  EXPECT_NE(Log().find("HRESULT=800705B4"), std::string::npos) << Log();
  Clock.Advance(1000); // the 30-second countdown
  EXPECT_EQ(Browser.Creates, 2);
  Browser.FireCreated(static_cast<int32_t>(0x80070002u));
  Clock.Advance(10000 - 1); // the five-minute look
  EXPECT_EQ(Browser.Creates, 2);
  Clock.Advance(1);
  EXPECT_EQ(Browser.Creates, 3);
  Browser.FireCreated(0);
  Browser.FireNavigation(true, 0, 200);
  Browser.FireNewBrowserVersion();
  Sys.Tick += 2000; // the minute of the quiet moment
  Clock.Advance(2000);
  EXPECT_EQ(Browser.Creates, 4);
}
#endif

// A loader missing beside the program: the title stays, the detail names the file instead of
// advising a runtime install that would not help.
TEST_F(TFormFixture, AMissingLoaderIsNamedOnTheCover) {
  Make();
  Form->FirstShow();
  Browser.Missing = "WebView2Loader.dll";
  Browser.FireCreated(static_cast<int32_t>(0x8007007Eu));
  const std::string log = Log();
  const size_t at = log.find("[M103-");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string tag = log.substr(at + 1, log.find(']', at) - at - 1);
  EXPECT_NE(log.find("WebView2 初始化失败 HRESULT=8007007E"), std::string::npos) << log;
  EXPECT_EQ(Form->CoverTitle(), "缺少 WebView2 运行库");
  EXPECT_EQ(Form->CoverDetail(), "机位图程序的文件夹里缺少 WebView2Loader.dll，请重新安装机位图"
                                 "（这个文件要和机位图程序放在同一个文件夹里），装好后重新打开。"
                                 "错误码 " +
                                     tag);
  EXPECT_FALSE(Form->RetryRunning());
  Deliver();
}

TEST_F(TFormFixture, ShellNamesItsOwnBrowserOnTheCover) {
  TFormPorts p = Ports();
  p.MissingBrowserTitle = "缺少 Chromium 浏览器";
  p.MissingBrowserAdvice = "请安装 Chromium。错误码 ";
  Form = std::make_unique<THallBoardForm>(std::move(p));
  Form->FirstShow();
  Browser.FireCreated(static_cast<int32_t>(0x80070002u));
  EXPECT_EQ(Form->CoverTitle(), "缺少 Chromium 浏览器");
  EXPECT_EQ(Form->CoverDetail().rfind("请安装 Chromium。错误码 M103-", 0), 0u);
  EXPECT_NE(Log().find("HRESULT=80070002"), std::string::npos);
  Deliver();
}

TEST_F(TFormFixture, OnlyTheMenuMessageOpensTheMenu) {
  Start();
  for (const char* json : {"\"Menu\"", "menu", "\"menu \"", "{\"menu\":1}", "[\"menu\"]", ""}) {
    Browser.FireWebMessage(json);
    EXPECT_TRUE(Host.Popups.empty()) << json;
  }
  Browser.FireWebMessage("\"menu\"");
  ASSERT_EQ(Host.Popups.size(), 1u);
  EXPECT_TRUE(Host.Popups[0]->Visible);
  // A second request while the menu is open neither opens another nor moves this one.
  const TRect bounds = Host.Popups[0]->Bounds;
  Host.Cursor = {900, 700};
  Browser.FireWebMessage("\"menu\"");
  EXPECT_EQ(Host.Popups.size(), 1u);
  EXPECT_EQ(Host.Popups[0]->Bounds, bounds);
}

TEST_F(TFormFixture, RendererFailureCoversAndNavigatesAgain) {
  Start();
  Browser.FireNavigation(true, 0, 200);
  for (int32_t kind : {pfRenderProcessExited, pfRenderProcessUnresponsive}) {
    const size_t navigations = Browser.Navigations.size();
    Browser.FireProcessFailed(kind);
    EXPECT_NE(Log().find("页面进程异常 Kind=" + std::to_string(kind)), std::string::npos);
    EXPECT_NE(Log().find("[M105-"), std::string::npos);
    EXPECT_TRUE(Host.Cover);
    EXPECT_EQ(Form->CoverTitle(), "机位图页面出错了");
    EXPECT_EQ(Form->CoverDetail(), "浏览器页面意外退出，稍后会自动重新打开。");
    EXPECT_EQ(Form->CoverHint(), "30 秒后自动重试 · 右键可退出");
    // The page came back by itself: no further word from the browser while the count runs.
    Sys.Tick += 30000;
    Clock.Advance(29000);
    EXPECT_EQ(Browser.Navigations.size(), navigations);
    Clock.Advance(1000);
    EXPECT_EQ(Browser.Navigations.size(), navigations + 1);
    EXPECT_EQ(Browser.Creates, 1);
    Browser.FireNavigation(true, 0, 200);
    EXPECT_FALSE(Host.Cover);
  }
}

TEST_F(TFormFixture, BrowserProcessGoneCreatesTheBrowserAnew) {
  Settings.Gateway = "192.168.1.10";
  Start();
  Browser.FireNavigation(true, 0, 200);
  Browser.FireProcessFailed(pfBrowserProcessExited);
  EXPECT_EQ(Form->CoverTitle(), "机位图页面出错了");
  EXPECT_FALSE(Form->BrowserReady());
  Clock.Advance(30000);
  EXPECT_EQ(Browser.Creates, 2);
  EXPECT_EQ(Browser.Navigations.size(), 1u); // waits for the new browser
  Browser.FireCreated(0);
  // Configured again from scratch, cache included, then the page opens again.
  EXPECT_EQ(Browser.Scripts.size(), 3u);
  EXPECT_EQ(Browser.Settings.size(), 10u);
  EXPECT_TRUE(Form->CacheHooked());
  ASSERT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_EQ(Browser.Navigations[1], kFirstUrl);
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
}

TEST_F(TFormFixture, NewWebViewAtTheOldAddressGetsTheCacheAgain) {
  Settings.Gateway = "192.168.1.10";
  Browser.ReuseIdentity = true;
  Start();
  ASSERT_EQ(Browser.Filters.size(), 10u);
  Browser.FireProcessFailed(pfBrowserProcessExited);
  Clock.Advance(30000);
  Browser.FireCreated(0);
  EXPECT_EQ(Browser.Filters.size(), 10u);
  EXPECT_TRUE(Browser.ResourceHandler != nullptr);
}

TEST_F(TFormFixture, BrowserGoneBeforeAnyCloudAddressWaitsForTheResolution) {
  SetAnswer(Failure());
  Start();
  Browser.FireProcessFailed(pfBrowserProcessExited);
  SetAnswer(Success(test::ThreeStoreMaps()));
  Clock.Advance(30000); // no cloud address yet: resolve first
  EXPECT_EQ(Browser.Creates, 1);
  Deliver();
  EXPECT_EQ(Browser.Creates, 2);
  Browser.FireCreated(0);
  EXPECT_EQ(Browser.Navigations, std::vector<std::string>{kFirstUrl});
}

// A crashed frame inside the page: the map is opened again at once and quietly; while a countdown
// runs it is left to the countdown.
TEST_F(TFormFixture, FrameRendererGoneReloadsThePage) {
  Start();
  Browser.FireNavigation(true, 0, 200);
  Browser.FireProcessFailed(pfFrameRenderProcessExited);
  EXPECT_NE(Log().find("页面进程异常 Kind=3"), std::string::npos);
  EXPECT_EQ(Browser.Navigations, (std::vector<std::string>{kFirstUrl, kFirstUrl}));
  EXPECT_FALSE(Host.Cover);
  Browser.FireNavigation(true, 0, 200);
  Browser.FireProcessFailed(pfRenderProcessExited);
  Browser.FireProcessFailed(pfFrameRenderProcessExited);
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_EQ(Form->CoverTitle(), "机位图页面出错了");
  Clock.Advance(30000);
  EXPECT_EQ(Browser.Navigations.size(), 3u);
}

// A newer runtime is taken at the first quiet moment: the map shown for a minute, no menu open.
TEST_F(TFormFixture, NewRuntimeVersionIsTakenAtAQuietMoment) {
  Browser.Version = "120.0.2210.91";
  Start();
  Browser.FireNavigation(true, 0, 200);
  Browser.FireNewBrowserVersion();
  EXPECT_TRUE(Form->NewVersionPending());
  // The map has not been on screen for a minute yet.
  Sys.Tick += 30000;
  Clock.Advance(30000);
  EXPECT_EQ(Browser.Creates, 1);
  // A menu open is no quiet moment.
  Browser.FireWebMessage("\"menu\"");
  Sys.Tick += 60000;
  Clock.Advance(60000);
  EXPECT_EQ(Browser.Creates, 1);
  Form->Menu()->Hide();
  Sys.Tick += 60000;
  Clock.Advance(60000);
  EXPECT_EQ(Browser.Creates, 2);
  EXPECT_FALSE(Form->NewVersionPending());
  EXPECT_TRUE(Host.Cover);
  EXPECT_EQ(Form->CoverTitle(), "正在打开机位图");
  Browser.Version = "121.0.2277.83";
  Browser.FireCreated(0);
  EXPECT_NE(Log().find("浏览器运行库已更新 120.0.2210.91 → 121.0.2277.83"), std::string::npos)
      << Log();
  ASSERT_EQ(Browser.Navigations.size(), 2u);
  Browser.FireNavigation(true, 0, 200);
  EXPECT_FALSE(Host.Cover);
  Sys.Tick += 600000;
  Clock.Advance(600000);
  EXPECT_EQ(Browser.Creates, 2);
}

TEST_F(TFormFixture, ANewVersionWaitingIsTakenByARecreationForAnotherReason) {
  // The browser dies while a newer runtime waits for its quiet moment: the browser made after
  // the crash is the new one, which is said once, and no second re-creation follows.
  Browser.Version = "120.0.2210.91";
  Start();
  Browser.FireNavigation(true, 0, 200);
  Browser.FireNewBrowserVersion();
  ASSERT_TRUE(Form->NewVersionPending());
  Browser.FireProcessFailed(0);
  for (int i = 0; i < 40 && Browser.Creates < 2; ++i) {
    Sys.Tick += 1000;
    Clock.Advance(1000);
  }
  ASSERT_EQ(Browser.Creates, 2);
  EXPECT_FALSE(Form->NewVersionPending());
  Browser.Version = "121.0.2277.83";
  Browser.FireCreated(0);
  Browser.FireNavigation(true, 0, 200);
  EXPECT_NE(Log().find("浏览器运行库已更新 120.0.2210.91 → 121.0.2277.83"), std::string::npos)
      << Log();
  Sys.Tick += 600000;
  Clock.Advance(600000);
  EXPECT_EQ(Browser.Creates, 2);
}

TEST_F(TFormFixture, HelperProcessFailureIsOnlyLogged) {
  Start();
  Browser.FireNavigation(true, 0, 200);
  Browser.FireProcessFailed(6); // the GPU process: the browser restarts it, the page runs on
  EXPECT_NE(Log().find("页面进程异常 Kind=6"), std::string::npos);
  EXPECT_FALSE(Host.Cover);
  EXPECT_FALSE(Form->RetryRunning());
}

} // namespace
} // namespace hb
