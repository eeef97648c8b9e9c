// The seat-map menu as the display window builds it, and what its entries do: choose a map,
// refresh, exit.
#include "FormFixture.h"

namespace hb {
namespace {

using test::TFormFixture;

struct TRow {
  TSeatMenuKind Kind;
  std::string Caption;
  std::string Hint;
  bool Checked;
  bool Danger;
};

std::vector<TRow> Rows(const TSeatMenu& menu) {
  std::vector<TRow> rows;
  for (const TSeatMenuEntry& e : menu.Entries())
    rows.push_back({e.Kind, e.Caption, e.Hint, e.Checked, e.Danger});
  return rows;
}

void ExpectRows(const std::vector<TRow>& got, const std::vector<TRow>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].Kind, want[i].Kind) << i;
    EXPECT_EQ(got[i].Caption, want[i].Caption) << i;
    EXPECT_EQ(got[i].Hint, want[i].Hint) << i;
    EXPECT_EQ(got[i].Checked, want[i].Checked) << i;
    EXPECT_EQ(got[i].Danger, want[i].Danger) << i;
  }
}

const TRow kRefresh{mkAction, "刷新", "F5", false, false};
const TRow kExit{mkAction, "退出机位图", "Alt+F4", false, true};

TEST_F(TFormFixture, MenuBeforeAnyResolution) {
  Make();
  Form->CoverRightButtonUp();
  ASSERT_NE(Form->Menu(), nullptr);
  ExpectRows(Rows(*Form->Menu()), {{mkHeader, "机位图", "机位图", false, false}, kRefresh, kExit});
  EXPECT_EQ(Form->Menu()->Hot(), 1);
  EXPECT_EQ(Form->Menu()->Bounds().Left, Host.Cursor.X);
}

TEST_F(TFormFixture, MenuWithOneMap) {
  SetAnswer(Success({{7, "大厅"}}));
  Start();
  Form->ShowMenu();
  ExpectRows(Rows(*Form->Menu()),
             {{mkHeader, "星光网咖", "本店只有一张机位图", false, false}, kRefresh, kExit});
  EXPECT_EQ(Form->Menu()->Hot(), 1); // "刷新"
}

TEST_F(TFormFixture, MenuWithThreeMapsMarksTheOneOnDisplay) {
  WriteFileBytes(JoinPath(AppDataFolder(), "last-map.txt"), "12");
  Start();
  ASSERT_EQ(Form->CurrentMap(), 1);
  Form->ShowMenu();
  ExpectRows(Rows(*Form->Menu()), {{mkHeader, "星光网咖", "选择要显示的机位图", false, false},
                                   {mkMap, "大厅", "", false, false},
                                   {mkMap, "包间", "正在显示", true, false},
                                   {mkMap, "二楼", "", false, false},
                                   {mkSep, "", "", false, false},
                                   kRefresh,
                                   kExit});
  EXPECT_EQ(Form->Menu()->Hot(), 2);
  // A store without a name still has a header.
  SetAnswer(Success(test::ThreeStoreMaps(), ""));
  Make();
  Form->FirstShow();
  Deliver();
  Form->ShowMenu();
  EXPECT_EQ(Form->Menu()->Entries()[0].Caption, "机位图");
}

TEST_F(TFormFixture, ChoosingAMapNavigatesAndRemembersIt) {
  Start();
  ASSERT_EQ(Form->CurrentMap(), 0);
  Form->ShowMenu();
  Form->Menu()->Fire(3); // "二楼"
  EXPECT_FALSE(Form->Menu()->Visible());
  EXPECT_EQ(Browser.Navigations.size(), 1u); // not inside the menu's own event
  Queue.Drain();
  EXPECT_EQ(Form->CurrentMap(), 2);
  ASSERT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_EQ(Browser.Navigations[1],
            "https://cloud.example.cn/seatmap/display?NetBarId=1001&embed=1&m=13");
  EXPECT_EQ(ReadFileBytes(JoinPath(AppDataFolder(), "last-map.txt")).value_or(""), "13");
  EXPECT_EQ(LoadLastMap(), 13);

  // The map already on display: the menu closes, nothing else happens.
  RemoveQuietly(JoinPath(AppDataFolder(), "last-map.txt"));
  Form->ShowMenu();
  Form->Menu()->Fire(3);
  Queue.Drain();
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_FALSE(FileExists(JoinPath(AppDataFolder(), "last-map.txt")));
  // Out of range.
  Form->ChooseMap(-1);
  Form->ChooseMap(3);
  EXPECT_EQ(Browser.Navigations.size(), 2u);
}

TEST_F(TFormFixture, HeaderAndSeparatorDoNothing) {
  Start();
  Form->ShowMenu();
  TSeatMenu& menu = *Form->Menu();
  menu.MouseUp(TMouseButton::mbLeft, 20, menu.RowTop(0) + 5);
  menu.MouseUp(TMouseButton::mbLeft, 20, menu.RowTop(4) + 5);
  EXPECT_TRUE(menu.Visible());
  EXPECT_EQ(Queue.Drain(), 0);
}

TEST_F(TFormFixture, RefreshNavigatesOnceTheCloudIsKnown) {
  Start();
  Form->ShowMenu();
  Form->Menu()->Fire(5);
  Queue.Drain();
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_EQ(Resolves, 1);
}

TEST_F(TFormFixture, RefreshResolvesWhileTheCloudIsUnknown) {
  SetAnswer(Failure());
  Start();
  Clock.Advance(20000);
  Form->RefreshMap(); // what "刷新" runs
  // A new resolution at once; the countdown keeps running meanwhile.
  EXPECT_TRUE(Form->Resolving());
  EXPECT_TRUE(Form->RetryRunning());
  Form->RefreshMap(); // one resolution at a time
  for (int i = 0; i < 5000 && Queue.Pending() < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(Resolves, 2);
  // The countdown ends while that resolution's answer is still queued: only the detail changes.
  Clock.Advance(10000);
  EXPECT_EQ(Form->CoverDetail(), "正在重新连接门店网关…");
  EXPECT_EQ(Resolves, 2);
  Queue.Drain();
  EXPECT_FALSE(Form->Resolving());
}

TEST_F(TFormFixture, ExitClosesTheWindowAfterTheMenuHides) {
  Start();
  Form->ShowMenu();
  Form->Menu()->KeyDown(vkUp); // from the first map, on display, past the header to the bottom
  Form->Menu()->KeyDown(vkReturn);
  EXPECT_EQ(Host.Closes, 0);
  Queue.Drain();
  EXPECT_EQ(Host.Closes, 1);
}

TEST_F(TFormFixture, QueuedMenuActionsAfterTheWindowIsGoneDoNothing) {
  Start();
  Form->ShowMenu();
  Form->Menu()->Fire(5);
  Form.reset();
  EXPECT_EQ(Queue.Drain(), 1);
  EXPECT_EQ(Browser.Navigations.size(), 1u);
}

TEST_F(TFormFixture, NewMenuReplacesTheHiddenOne) {
  Start();
  Form->ShowMenu();
  Form->Menu()->KeyDown(vkEscape);
  Form->ShowMenu();
  ASSERT_EQ(Host.Popups.size(), 2u);
  EXPECT_TRUE(Host.Popups[0]->Destroyed);
  EXPECT_TRUE(Host.Popups[1]->Visible);
}

} // namespace
} // namespace hb

namespace hb {
namespace {

using test::TFormFixture;

std::vector<TSeatMapItem> NumberedMaps(int n) {
  std::vector<TSeatMapItem> maps;
  maps.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) maps.push_back({i + 1, "机位图 " + std::to_string(i + 1)});
  return maps;
}

TEST_F(TFormFixture, MenuOfAnyLengthFitsTheScreenWithRefreshAndExitInView) {
  // A 1280 x 720 display with its taskbar; the pointer near the top left.
  Host.MonitorList = {{{0, 0, 1280, 720}, {0, 0, 1280, 680}, 96, true}};
  Host.Cursor = {200, 150};
  for (int n : {1, 30, 34000}) {
    SetAnswer(Success(NumberedMaps(n)));
    Start();
    Form->ShowMenu();
    TSeatMenu& menu = *Form->Menu();
    const TRect b = menu.Bounds();
    const std::string at = std::to_string(n) + " maps";
    EXPECT_GE(b.Top, 4) << at;
    EXPECT_LE(b.Bottom(), 676) << at;
    const int count = static_cast<int>(menu.Entries().size());
    for (int row : {count - 2, count - 1, menu.Hot()}) {
      EXPECT_GE(menu.RowTop(row), menu.Pad()) << at << " row " << row;
      EXPECT_LE(menu.RowTop(row) + menu.RowHeight(row), b.Height - menu.Pad()) << at;
      EXPECT_EQ(menu.RowAt(menu.RowTop(row)), row) << at;
    }
    // Up from the map on display (the first), or from "刷新" without maps, wraps round to
    // "退出机位图"; Return closes the window.
    menu.KeyDown(vkUp);
    EXPECT_EQ(menu.Entries()[static_cast<size_t>(menu.Hot())].Caption, "退出机位图") << at;
    const int closes = Host.Closes;
    menu.KeyDown(vkReturn);
    Queue.Drain();
    EXPECT_EQ(Host.Closes, closes + 1) << at;
  }
}

TEST_F(TFormFixture, MenuTakesTheScaleOfTheMonitorItOpensOn) {
  // The window on a 100 % monitor, the pointer on a 150 % one beside it.
  Host.MonitorList = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96, true},
                      {{1920, 0, 3840, 2160}, {1920, 0, 3840, 2100}, 144, false}};
  Start();
  Host.Cursor = {100, 100};
  Form->ShowMenu();
  EXPECT_EQ(Form->Menu()->RowH(), 46);
  Form->Menu()->Hide();
  Host.Cursor = {2500, 100};
  Form->ShowMenu();
  EXPECT_EQ(Form->Menu()->RowH(), 69);
  EXPECT_EQ(Form->Menu()->HeadH(), 99);
  EXPECT_GE(Form->Menu()->Bounds().Left, 1920 + 4);
}

} // namespace
} // namespace hb
