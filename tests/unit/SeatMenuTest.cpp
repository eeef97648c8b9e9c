// The seat-map menu on its own: metrics, width from measured texts, rows, highlight movement,
// placement inside the work area, firing, input and painting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "FakeUiQueue.h"
#include "FakeWindowHost.h"
#include "RecordingCanvas.h"
#include "display/SeatMenu.h"

namespace hb {
namespace {

using test::TCanvasOp;
using test::TFakeUiQueue;
using test::TFakeWindowHost;
using test::TRecordingCanvas;

// Header, three maps (the second on display), separator, refresh, exit: the menu of a store
// with three maps.
std::vector<TSeatMenuEntry> ThreeMaps(int* fired = nullptr) {
  auto act = [fired](int n) {
    return [fired, n] {
      if (fired) *fired = n;
    };
  };
  return {
      {mkHeader, "星光网咖", "选择要显示的机位图", false, false, nullptr},
      {mkMap, "大厅", "", false, false, act(1)},
      {mkMap, "包间", "正在显示", true, false, act(2)},
      {mkMap, "二楼", "", false, false, act(3)},
      {mkSep, "", "", false, false, nullptr},
      {mkAction, "刷新", "F5", false, false, act(5)},
      {mkAction, "退出机位图", "Alt+F4", false, true, act(6)},
  };
}

struct TMenuFixture : ::testing::Test {
  TFakeWindowHost Host;
  TFakeUiQueue Queue;
  TRecordingCanvas Canvas;
  TTextMeasure Measure = [this](const std::string& s, const TFont& f) {
    return Canvas.MeasureText(s, f);
  };
  std::unique_ptr<TSeatMenu> Make(std::vector<TSeatMenuEntry> entries, double scale = 1.0) {
    return std::make_unique<TSeatMenu>(Host, Queue, std::move(entries), scale, Measure);
  }
};

TEST(SeatMenuMetrics, ScaledToTwoDecimalsAndRounded) {
  struct TCase {
    double Scale;
    int RowH, SepH, HeadH, Pad, Margin;
  };
  const TCase cases[] = {
      {1.0, 46, 13, 66, 8, 18},          {1.25, 58, 16, 83, 10, 23}, {1.5, 69, 20, 99, 12, 27},
      {1.254, 58, 16, 83, 10, 23}, // the factor counts to two decimals
      {2.0, 92, 26, 132, 16, 36},        {0.0, 46, 13, 66, 8, 18}, // a broken DPI query means 1
      {std::nan(""), 46, 13, 66, 8, 18},
  };
  TFakeWindowHost host;
  TFakeUiQueue queue;
  for (const TCase& c : cases) {
    TSeatMenu menu(host, queue, ThreeMaps(), c.Scale, nullptr);
    EXPECT_EQ(menu.RowH(), c.RowH) << c.Scale;
    EXPECT_EQ(menu.SepH(), c.SepH) << c.Scale;
    EXPECT_EQ(menu.HeadH(), c.HeadH) << c.Scale;
    EXPECT_EQ(menu.Pad(), c.Pad) << c.Scale;
    EXPECT_EQ(menu.Margin(), c.Margin) << c.Scale;
  }
}

TEST_F(TMenuFixture, WidthFollowsWidestEntryBetweenMinimumAndMaximum) {
  // 12 pt on the recording canvas at 96 dpi: a Chinese character is 16 px, ASCII 9.6 px.
  std::string longName;
  for (int i = 0; i < 40; ++i) longName += "长";
  struct TCase {
    std::vector<TSeatMenuEntry> Entries;
    double Scale;
    int Dpi;
    int Width;
  };
  const TCase cases[] = {
      {{{mkAction, "刷新", "F5", false, false, nullptr}}, 1.0, 96, 280},
      // Header: 110 + 4 x 16 + 9 x 16 = 318.
      {ThreeMaps(), 1.0, 96, 318},
      // 110 + 640 is past the maximum; the text is never shortened, the menu stops at 560.
      {{{mkMap, longName, "", false, false, nullptr}}, 1.0, 96, 560},
      // At 150 %: 165 + 4 x 24 + 9 x 24 = 477 (minimum 420), maximum 840.
      {ThreeMaps(), 1.5, 144, 477},
      {{{mkMap, longName, "", false, false, nullptr}}, 1.5, 144, 840},
  };
  for (const TCase& c : cases) {
    TRecordingCanvas canvas(c.Dpi);
    TSeatMenu menu(Host, Queue, c.Entries, c.Scale,
                   [&](const std::string& s, const TFont& f) { return canvas.MeasureText(s, f); });
    EXPECT_EQ(menu.ClientSize().Width, c.Width) << c.Entries[0].Caption << " at " << c.Scale;
  }
}

TEST_F(TMenuFixture, HeightAndRowsIncludingMargins) {
  auto menu = Make(ThreeMaps());
  EXPECT_EQ(menu->ClientSize().Height, 2 * 8 + 66 + 3 * 46 + 13 + 2 * 46);
  struct TRow {
    int Y;
    int Index;
  };
  const TRow rows[] = {
      {-5, -1}, {0, -1},   {7, -1},                         // top margin
      {8, 0},   {73, 0},   {74, 1},                         // header 8..73
      {165, 2}, {166, 3},  {212, 4},  {224, 4},   {225, 5}, // separator 212..224
      {316, 6}, {317, -1}, {324, -1}, {5000, -1},           // bottom margin 317..324
  };
  for (const TRow& r : rows) EXPECT_EQ(menu->RowAt(r.Y), r.Index) << r.Y;
  EXPECT_EQ(menu->RowTop(0), 8);
  EXPECT_EQ(menu->RowTop(4), 8 + 66 + 3 * 46);
  EXPECT_EQ(menu->RowHeight(0), 66);
  EXPECT_EQ(menu->RowHeight(4), 13);
  EXPECT_EQ(menu->RowHeight(5), 46);
}

TEST_F(TMenuFixture, SelectableOnlyMapAndActionRows) {
  auto menu = Make(ThreeMaps());
  const bool expected[] = {false, true, true, true, false, true, true};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(menu->IsSelectable(i), expected[i]) << i;
  EXPECT_FALSE(menu->IsSelectable(-1));
  EXPECT_FALSE(menu->IsSelectable(7));
}

TEST_F(TMenuFixture, InitialHighlight) {
  EXPECT_EQ(Make(ThreeMaps())->Hot(), 2); // the map on display
  auto entries = ThreeMaps();
  entries[1].Checked = true; // two checked: the last one counts
  EXPECT_EQ(Make(entries)->Hot(), 2);
  entries[1].Checked = entries[2].Checked = false;
  EXPECT_EQ(Make(entries)->Hot(), 1); // none checked: the first selectable row
  // One map or none: header, refresh, exit; the highlight starts on "刷新".
  auto small = Make({ThreeMaps()[0], ThreeMaps()[5], ThreeMaps()[6]});
  EXPECT_EQ(small->Hot(), 1);
  EXPECT_EQ(Make({ThreeMaps()[0], ThreeMaps()[4]})->Hot(), -1); // nothing selectable
  EXPECT_EQ(Make({})->Hot(), -1);
}

TEST_F(TMenuFixture, MoveHotWrapsAndSkipsHeaderAndSeparator) {
  auto entries = ThreeMaps();
  entries[2].Checked = false; // start on the first map
  auto menu = Make(entries);
  ASSERT_EQ(menu->Hot(), 1);
  const struct {
    int Delta;
    int Hot;
  } steps[] = {{-1, 6}, {+1, 1}, {+1, 2}, {+1, 3}, {+1, 5}, {-1, 3}, {+1, 5}, {+1, 6}, {+1, 1}};
  for (auto s : steps) {
    menu->MoveHot(s.Delta);
    EXPECT_EQ(menu->Hot(), s.Hot);
  }
  auto none = Make({ThreeMaps()[0], ThreeMaps()[4]});
  none->MoveHot(+1);
  none->MoveHot(-1);
  EXPECT_EQ(none->Hot(), -1);
  auto empty = Make({});
  empty->MoveHot(+1);
  EXPECT_EQ(empty->Hot(), -1);
}

TEST_F(TMenuFixture, PopupStaysFourPixelsInsideTheWorkArea) {
  // Primary 1920 x 1080 with a taskbar at the bottom, a second monitor to its left whose
  // taskbar is on top.
  Host.MonitorList = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96},
                      {{-1280, 0, 1280, 1024}, {-1280, 40, 1280, 984}, 96}};
  auto menu = Make(ThreeMaps());
  const int w = menu->ClientSize().Width;  // 318
  const int h = menu->ClientSize().Height; // 325
  struct TCase {
    TPoint P;
    TPoint At;
  };
  const TCase cases[] = {
      {{500, 300}, {500, 300}},                     // room enough: at the pointer
      {{0, 0}, {4, 4}},                             // top left
      {{1919, 0}, {1920 - w - 4, 4}},               // top right
      {{0, 1079}, {4, 1040 - h - 4}},               // bottom left, over the taskbar
      {{1919, 1079}, {1920 - w - 4, 1040 - h - 4}}, // bottom right
      {{1700, 500}, {1920 - w - 4, 500}},           // near the right edge only
      {{-1280, 0}, {-1276, 44}},                    // second monitor, top left
      {{-1, 1023}, {-w - 4, 40 + 984 - h - 4}},     // second monitor, bottom right
  };
  for (const TCase& c : cases) {
    menu->PopupAt(c.P);
    EXPECT_EQ(menu->Bounds(), (TRect{c.At.X, c.At.Y, w, h})) << c.P.X << "," << c.P.Y;
    EXPECT_EQ(Host.Popups.back()->Bounds, menu->Bounds());
    EXPECT_TRUE(menu->Visible());
  }
}

TEST_F(TMenuFixture, FireRunsSelectableEntriesAfterTheEventOnly) {
  int fired = 0;
  auto menu = Make(ThreeMaps(&fired));
  menu->PopupAt({100, 100});
  for (int index : {-1, 0, 4, 7}) { // header, separator, outside
    menu->Fire(index);
    EXPECT_TRUE(menu->Visible()) << index;
    EXPECT_EQ(Queue.Pending(), 0u) << index;
  }
  menu->Fire(5);
  EXPECT_FALSE(menu->Visible());
  EXPECT_EQ(fired, 0); // never inside the menu's own handler
  EXPECT_EQ(Queue.Drain(), 1);
  EXPECT_EQ(fired, 5);

  auto entries = ThreeMaps();
  entries[5].Action = nullptr; // a row without an action just closes the menu
  auto quiet = Make(entries);
  quiet->PopupAt({100, 100});
  quiet->Fire(5);
  EXPECT_FALSE(quiet->Visible());
  EXPECT_EQ(Queue.Pending(), 0u);
}

TEST_F(TMenuFixture, MouseInput) {
  int fired = 0;
  auto menu = Make(ThreeMaps(&fired));
  menu->PopupAt({100, 100});
  auto& popup = *Host.Popups.back();
  const int before = popup.Invalidates;
  menu->MouseMove(10, 20);  // header: the highlight stays
  menu->MouseMove(10, 215); // separator
  menu->MouseMove(10, 2);   // margin
  EXPECT_EQ(menu->Hot(), 2);
  EXPECT_EQ(popup.Invalidates, before);
  menu->MouseMove(10, 300); // "退出机位图"
  EXPECT_EQ(menu->Hot(), 6);
  EXPECT_GT(popup.Invalidates, before);

  menu->MouseUp(TMouseButton::mbLeft, 10, 20); // header: nothing, stays open
  EXPECT_TRUE(menu->Visible());
  menu->MouseUp(TMouseButton::mbRight, 10, 100);
  menu->MouseUp(TMouseButton::mbMiddle, 10, 100);
  EXPECT_TRUE(menu->Visible());
  EXPECT_EQ(Queue.Pending(), 0u);
  menu->MouseUp(TMouseButton::mbLeft, 10, 100); // "大厅"
  Queue.Drain();
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(menu->Visible());
}

TEST_F(TMenuFixture, KeyInput) {
  struct TCase {
    std::vector<int> Keys;
    int Fired;
    bool Visible;
  };
  const TCase cases[] = {
      {{vkReturn}, 2, false},
      {{vkSpace}, 2, false},
      {{vkDown, vkDown, vkReturn}, 5, false}, // skips the separator
      {{vkUp, vkUp, vkReturn}, 6, false},     // wraps past the header
      {{vkEscape}, 0, false},
      {{'A', 112 /* F1 */, vkDown}, 0, true},
  };
  for (const TCase& c : cases) {
    int fired = 0;
    auto menu = Make(ThreeMaps(&fired));
    menu->PopupAt({100, 100});
    for (int k : c.Keys) menu->KeyDown(k);
    Queue.Drain();
    EXPECT_EQ(fired, c.Fired) << c.Keys.size();
    EXPECT_EQ(menu->Visible(), c.Visible) << c.Keys.size();
  }
}

TEST_F(TMenuFixture, LosingActivationHides) {
  auto menu = Make(ThreeMaps());
  menu->PopupAt({100, 100});
  menu->Deactivated();
  EXPECT_FALSE(menu->Visible());
  EXPECT_EQ(Queue.Pending(), 0u);
}

TEST_F(TMenuFixture, PaintDrawsRowsInTheirColoursAndPlaces) {
  auto menu = Make(ThreeMaps());
  TRecordingCanvas canvas;
  menu->Paint(canvas);
  const int w = menu->ClientSize().Width;
  const int h = menu->ClientSize().Height;
  ASSERT_GE(canvas.Records.size(), 2u);
  EXPECT_EQ(canvas.Records[0].Op, TCanvasOp::coFillRect);
  EXPECT_EQ(canvas.Records[0].Rect, (TRect{0, 0, w, h}));
  EXPECT_EQ(canvas.Records[0].Fill, kMenuBackground);
  EXPECT_EQ(canvas.Records[1].Op, TCanvasOp::coFrameRect);
  EXPECT_EQ(canvas.Records[1].Outline, kMenuLine);

  // The highlight: only on the map on display, inset by the margin and 3 pixels.
  auto rounds = canvas.OfKind(TCanvasOp::coRoundRect);
  ASSERT_EQ(rounds.size(), 1u);
  EXPECT_EQ(rounds[0].Rect, (TRect{8, menu->RowTop(2) + 3, w - 16, 40}));
  EXPECT_EQ(rounds[0].EllipseW, 14);
  EXPECT_EQ(rounds[0].Fill, kMenuHot);
  EXPECT_EQ(rounds[0].Outline, kMenuHot);

  // Map dots: filled blue for the map on display, grey rings for the others.
  auto dots = canvas.OfKind(TCanvasOp::coEllipse);
  ASSERT_EQ(dots.size(), 3u);
  const int cy = menu->RowTop(1) + 23;
  EXPECT_EQ(dots[0].Rect, (TRect{18, cy - 5, 10, 10}));
  EXPECT_EQ(dots[0].Fill, std::nullopt);
  EXPECT_EQ(dots[0].Outline, kMenuHintText);
  EXPECT_EQ(dots[1].Fill, kMenuChecked);

  // Header lines and the separator.
  auto lines = canvas.OfKind(TCanvasOp::coLine);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].From, (TPoint{18, 8 + 66 - 2}));
  EXPECT_EQ(lines[0].To, (TPoint{w - 18, 8 + 66 - 2}));
  EXPECT_EQ(lines[1].From, (TPoint{18, menu->RowTop(4) + 6}));

  auto text = [&](const std::string& s) {
    auto v = canvas.TextsEqual(s);
    EXPECT_EQ(v.size(), 1u) << s;
    return v.empty() ? test::TCanvasRecord{} : v[0];
  };
  EXPECT_EQ(text("星光网咖").Font, MenuHeaderFont());
  EXPECT_EQ(text("星光网咖").Rect.Top, 8 + 9);
  EXPECT_EQ(text("选择要显示的机位图").Rect.Top, 8 + 36);
  EXPECT_EQ(text("选择要显示的机位图").Color, kMenuHintText);
  EXPECT_EQ(text("大厅").Color, kMenuText);
  EXPECT_EQ(text("大厅").Rect.Left, 18 + 22);
  EXPECT_EQ(text("包间").Color, kMenuChecked);
  EXPECT_EQ(text("退出机位图").Color, kMenuDanger);
  EXPECT_EQ(text("刷新").Rect.Left, 18);
  // 12 pt lines are 21 high: centred on the row's middle line.
  EXPECT_EQ(text("刷新").Rect.Top, menu->RowTop(5) + 23 - 21 / 2);
  const auto hint = text("Alt+F4");
  EXPECT_EQ(hint.Rect.Right(), w - 18);
  EXPECT_EQ(hint.Flags & tfRight, unsigned(tfRight));
  EXPECT_EQ(hint.Font, MenuSmallFont());
}

TEST(SeatMenuEstimate, WithoutAMeasureTheWidthStillFollowsTheTexts) {
  TFakeWindowHost host;
  TFakeUiQueue queue;
  std::string longName(60, 'W');
  TSeatMenu wide(host, queue, {{mkMap, longName, "", false, false, nullptr}}, 1.0, nullptr);
  EXPECT_EQ(wide.ClientSize().Width, 560);
  TSeatMenu narrow(host, queue, {{mkAction, "刷新", "F5", false, false, nullptr}}, 1.0, nullptr);
  EXPECT_EQ(narrow.ClientSize().Width, 280);
}

} // namespace
} // namespace hb

namespace hb {
namespace {

// A store's menu with n maps, the one at index `current` on display (-1: none).
std::vector<TSeatMenuEntry> ManyMaps(int n, int current, int* fired = nullptr) {
  std::vector<TSeatMenuEntry> e;
  e.push_back({mkHeader, "星光网咖", n >= 2 ? "选择要显示的机位图" : "本店只有一张机位图", false,
               false, nullptr});
  if (n >= 2) {
    for (int i = 0; i < n; ++i)
      e.push_back({mkMap, "机位图 " + std::to_string(i + 1), i == current ? "正在显示" : "",
                   i == current, false, [fired, i] {
                     if (fired) *fired = i;
                   }});
    e.push_back({mkSep, "", "", false, false, nullptr});
  }
  e.push_back({mkAction, "刷新", "F5", false, false, [fired] {
                 if (fired) *fired = -5;
               }});
  e.push_back({mkAction, "退出机位图", "Alt+F4", false, true, [fired] {
                 if (fired) *fired = -6;
               }});
  return e;
}

// Whether row i lies wholly inside the menu's client area and, for a map row, inside the rows'
// viewport between the header and the rows below the maps.
bool RowInView(const TSeatMenu& m, int i) {
  const int top = m.RowTop(i);
  if (top < m.Pad() || top + m.RowHeight(i) > m.ClientSize().Height - m.Pad()) return false;
  return m.RowAt(top) == i && m.RowAt(top + m.RowHeight(i) - 1) == i;
}

struct TScrollFixture : TMenuFixture {
  // A 1280 x 720 screen with a 40-pixel taskbar: 680 pixels of work area.
  TScrollFixture() { Host.MonitorList = {{{0, 0, 1280, 720}, {0, 0, 1280, 680}, 96, true}}; }
  // The Text records a paint made, by their text.
  std::vector<std::string> PaintedTexts(TSeatMenu& m) {
    Canvas.Clear();
    m.Paint(Canvas);
    std::vector<std::string> out;
    for (const auto& r : Canvas.OfKind(TCanvasOp::coText)) out.push_back(r.Text);
    return out;
  }
};

TEST_F(TScrollFixture, FitsTheWorkAreaWithOneThirtyOrThirtyFourThousandMaps) {
  const struct {
    int Maps;
    int Current;
    bool Scrolls;
  } cases[] = {{1, -1, false}, {30, 0, true}, {30, 29, true}, {34000, 17000, true}};
  for (const auto& c : cases) {
    auto menu = Make(ManyMaps(c.Maps, c.Current));
    Host.Cursor = {1000, 600};
    menu->PopupAt(Host.Cursor);
    const TRect b = menu->Bounds();
    const std::string at = std::to_string(c.Maps) + " maps";
    EXPECT_GE(b.Top, 4) << at;
    EXPECT_LE(b.Bottom(), 680 - 4) << at;
    EXPECT_LE(b.Right(), 1280 - 4) << at;
    EXPECT_EQ(menu->Scrolls(), c.Scrolls) << at;
    // The header, "刷新" and "退出机位图" are always in view, and so is the map on display.
    const int count = static_cast<int>(menu->Entries().size());
    EXPECT_TRUE(RowInView(*menu, 0)) << at;
    EXPECT_TRUE(RowInView(*menu, count - 2)) << at;
    EXPECT_TRUE(RowInView(*menu, count - 1)) << at;
    EXPECT_TRUE(RowInView(*menu, menu->Hot())) << at;
    EXPECT_EQ(menu->Hot(), c.Current >= 0 ? c.Current + 1 : count - 2) << at;
    // Painting draws the rows in view, not the list: header two lines, and per row at most a
    // caption and a hint.
    const std::vector<std::string> texts = PaintedTexts(*menu);
    EXPECT_LE(texts.size(), 2u + 2u * (menu->VisibleRows() + 2u)) << at;
    EXPECT_NE(std::find(texts.begin(), texts.end(), "退出机位图"), texts.end()) << at;
  }
}

TEST_F(TScrollFixture, KeysKeepTheHighlightInViewAndWrapToTheActions) {
  int fired = -100;
  auto menu = Make(ManyMaps(30, 0, &fired));
  menu->PopupAt({10, 10});
  ASSERT_TRUE(menu->Scrolls());
  const int count = static_cast<int>(menu->Entries().size());
  // Down through every map to "刷新", "退出机位图" and round to the first map again.
  for (int step = 0; step < 33; ++step) {
    menu->KeyDown(vkDown);
    EXPECT_TRUE(RowInView(*menu, menu->Hot())) << "after " << step + 1 << " presses";
  }
  EXPECT_EQ(menu->Hot(), 2); // 1 (first map) + 33 steps over 32 selectable rows
  // Up from the first map wraps to "退出机位图", which stays reachable with the maps scrolled.
  menu->KeyDown(vkUp);
  menu->KeyDown(vkUp);
  EXPECT_EQ(menu->Hot(), count - 1);
  EXPECT_TRUE(RowInView(*menu, count - 1));
  // Page Down from the first map moves by the rows in view less one, and stays in view.
  menu->KeyDown(vkDown);
  menu->KeyDown(vkNext);
  EXPECT_EQ(menu->Hot(), 1 + menu->VisibleRows() - 1);
  EXPECT_TRUE(RowInView(*menu, menu->Hot()));
  menu->KeyDown(vkPrior);
  EXPECT_EQ(menu->Hot(), 1);
  // Return fires the highlighted map; a click on the exit row fires the exit.
  menu->KeyDown(vkReturn);
  Queue.Drain();
  EXPECT_EQ(fired, 0);
  menu->PopupAt({10, 10});
  menu->MouseUp(TMouseButton::mbLeft, 20, menu->RowTop(count - 1) + 5);
  Queue.Drain();
  EXPECT_EQ(fired, -6);
}

TEST_F(TScrollFixture, WheelScrollsTheMapsAndTheMouseFindsTheRowsInView) {
  auto menu = Make(ManyMaps(30, 0));
  menu->PopupAt({10, 10});
  const int first = menu->FirstVisible();
  menu->MouseWheel(-1); // towards the user: further down the list
  EXPECT_EQ(menu->FirstVisible(), first + 3);
  menu->MouseWheel(100); // far up: stops at the first map
  EXPECT_EQ(menu->FirstVisible(), 1);
  menu->MouseWheel(-100); // far down: the last map is the last row in view
  EXPECT_EQ(menu->FirstVisible() + menu->VisibleRows(), 31);
  // The row under the mouse is the one painted there: the top row of the viewport is the
  // first visible map.
  const int y = menu->RowTop(menu->FirstVisible()) + 2;
  EXPECT_EQ(menu->RowAt(y), menu->FirstVisible());
  menu->MouseMove(20, y);
  EXPECT_EQ(menu->Hot(), menu->FirstVisible());
  // Rows scrolled out of view lie outside the viewport.
  EXPECT_FALSE(RowInView(*menu, 1));
}

TEST_F(TScrollFixture, TinyWorkAreaStillShowsOneMapRow) {
  Host.MonitorList = {{{0, 0, 800, 200}, {0, 0, 800, 200}, 96, true}};
  auto menu = Make(ManyMaps(5, 2));
  menu->PopupAt({0, 0});
  EXPECT_EQ(menu->VisibleRows(), 1);
  EXPECT_TRUE(RowInView(*menu, menu->Hot()));
}

} // namespace
} // namespace hb
