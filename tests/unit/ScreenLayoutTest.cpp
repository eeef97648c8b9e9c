// Cover, error dialog and menu over 96 to 288 DPI with the longest texts, measured by the
// recording canvas (the same table runs with real pango in the Linux adapter tests).
#include <gtest/gtest.h>

#include "RecordingCanvas.h"
#include "ScreenLayoutCases.h"

namespace hb {
namespace {

test::TCanvasAt Recording() {
  return [](int dpi) -> std::unique_ptr<ICanvas> {
    return std::make_unique<test::TRecordingCanvas>(dpi);
  };
}

TEST(ScreenLayout, CoverTextsFitTheirBoxesAtEveryScale) {
  test::CheckCoverLayouts(Recording());
}

TEST(ScreenLayout, DialogTextsFitTheirBoxesAtEveryScale) {
  test::CheckDialogLayouts(Recording());
}

TEST(ScreenLayout, MenuTextsFitTheirRowsAtEveryScale) {
  test::CheckMenuLayouts(Recording());
}

TEST(ScreenLayout, EveryLengthGrowsByTheOneFactor) {
  // The 96-DPI cover and dialog, and the same at 144 (x1.5) and 288 (x3).
  const TSize client{1920, 1080};
  const TCoverLayout at96 = LayoutCover(client, 96);
  EXPECT_EQ(at96, LayoutCover(client));
  EXPECT_EQ(at96.Icon, (TRect{912, 390, 96, 96}));
  EXPECT_EQ(at96.Detail, (TRect{580, 568, 760, 80}));
  const TCoverLayout at144 = LayoutCover(client, 144);
  EXPECT_EQ(at144.Icon, (TRect{888, 315, 144, 144}));
  EXPECT_EQ(at144.Title, (TRect{60, 495, 1800, 72}));
  EXPECT_EQ(at144.Detail, (TRect{390, 582, 1140, 120}));
  EXPECT_EQ(at144.Hint, (TRect{60, 717, 1800, 42}));
  EXPECT_EQ(LayoutCover(client, 288).Detail, (TRect{-180, 624, 2280, 240}));
  // A DPI the system could not tell counts as 96.
  EXPECT_EQ(LayoutCover(client, 0), at96);

  test::TRecordingCanvas c96(96), c288(288);
  const TShellDialogLayout d96 = LayoutShellDialog("遇到一点问题", "短", {"知道了"}, c96);
  const TShellDialogLayout d288 = LayoutShellDialog("遇到一点问题", "短", {"知道了"}, c288);
  EXPECT_EQ(d96.Client, (TSize{460, 174}));
  EXPECT_EQ(d288.Client, (TSize{1380, 522}));
  EXPECT_EQ(d288.Corner, 72);
  EXPECT_EQ(d288.Icon, (TRect{84, 84, 96, 96}));
  EXPECT_EQ(d288.Buttons[0], (TRect{1308 - 288, 336, 288, 114}));
  EXPECT_EQ(TFlatButton::SizeFor("知道了", c288), (TSize{228, 96}));
}

TEST(ScreenLayout, LongDetailGrowsItsBoxAndPushesTheHintDown) {
  test::TRecordingCanvas c(144);
  const TSize client{1920, 1080};
  std::string detail;
  for (int i = 0; i < 16; ++i) detail += "这是一段很长的说明文字，";
  const TCoverLayout fixed = LayoutCover(client, 144);
  const TCoverLayout l = LayoutCoverFor(client, c, detail);
  const int need = c.MeasureText(detail, CoverDetailFont(), fixed.Detail.Width).Height;
  ASSERT_GT(need, fixed.Detail.Height);
  EXPECT_EQ(l.Detail.Height, need);
  EXPECT_EQ(l.Hint.Top - l.Detail.Bottom(), fixed.Hint.Top - fixed.Detail.Bottom());
  // A short detail keeps the fixed layout.
  EXPECT_EQ(LayoutCoverFor(client, c, "正在连接门店网关…"), fixed);
  // On a low window the block moves up rather than leaving it.
  const TSize low{1920, 560};
  const TCoverLayout up = LayoutCoverFor(low, c, detail);
  EXPECT_LE(up.Hint.Bottom(), low.Height);
  EXPECT_GE(up.Icon.Top, 0);
}

} // namespace
} // namespace hb
