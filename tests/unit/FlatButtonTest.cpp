// The flat button's size from its caption, its states and what it paints.
#include <gtest/gtest.h>

#include "RecordingCanvas.h"
#include "shell/FlatButton.h"

namespace hb {
namespace {

using test::TCanvasOp;
using test::TRecordingCanvas;

TEST(FlatButton, SizeFollowsCaptionWithMinimum) {
  // At 96 dpi the 10 pt face is 13 px: an ASCII character 7.8 px, a Chinese one 13 px.
  struct TCase {
    int Dpi;
    std::string Caption;
    TSize Size;
  };
  const TCase cases[] = {
      {96, "", {76, 32}},
      {96, "OK", {76, 32}},
      {96, "知道了", {76, 32}},                // 39 + 36 = 75, raised to 76
      {96, "重新连接", {88, 32}},              // 52 + 36
      {96, "Reconnect now please", {192, 32}}, // 156 + 36
      // At 150 % the font, the padding, the minimum and the height grow alike: 60 + 54.
      {144, "知道了", {114, 48}},
  };
  for (const TCase& c : cases) {
    TRecordingCanvas canvas(c.Dpi);
    TFlatButton b(c.Caption, 0xFFFFFF, 0x2563EB, 0x1D4ED8, 0xFFFFFF, canvas);
    EXPECT_EQ(b.Size(), c.Size) << c.Dpi << " " << c.Caption;
    EXPECT_EQ(TFlatButton::SizeFor(c.Caption, canvas), c.Size);
  }
}

TEST(FlatButton, PaintsBackFaceAndCaption) {
  TRecordingCanvas canvas;
  TFlatButton b("&Retry", 0xFFFFFF, 0xF3F4F6, 0xE5E7EB, 0x374151, canvas);
  b.Paint(canvas, {10, 20});
  ASSERT_EQ(canvas.Records.size(), 3u);
  TRect client{10, 20, b.Size().Width, 32};
  EXPECT_EQ(canvas.Records[0].Op, TCanvasOp::coFillRect);
  EXPECT_EQ(canvas.Records[0].Rect, client);
  EXPECT_EQ(canvas.Records[0].Fill, 0xFFFFFFu);
  const auto& face = canvas.Records[1];
  EXPECT_EQ(face.Op, TCanvasOp::coRoundRect);
  EXPECT_EQ(face.Rect, client);
  EXPECT_EQ(face.EllipseW, 10);
  EXPECT_EQ(face.EllipseH, 10);
  EXPECT_EQ(face.Fill, 0xF3F4F6u);
  EXPECT_EQ(face.Outline, 0xF3F4F6u);
  const auto& text = canvas.Records[2];
  EXPECT_EQ(text.Op, TCanvasOp::coText);
  EXPECT_EQ(text.Rect, client);
  EXPECT_EQ(text.Text, "&Retry");
  EXPECT_EQ(text.Font, (TFont{"Microsoft YaHei UI", 10, false}));
  EXPECT_EQ(text.Color, 0x374151u);
  EXPECT_EQ(text.Flags, unsigned(tfCenter | tfVCenter | tfSingleLine | tfMnemonic));
}

TEST(FlatButton, HoverAndEnabledDecideColours) {
  struct TCase {
    bool Hover, Enabled;
    TColor Face, Text;
  };
  const TCase cases[] = {
      {false, true, 0x2563EB, 0xFFFFFF},
      {true, true, 0x1D4ED8, 0xFFFFFF},
      {true, false, 0x2563EB, kFlatDisabledText}, // a disabled button does not light up
      {false, false, 0x2563EB, kFlatDisabledText},
  };
  for (const TCase& c : cases) {
    TRecordingCanvas canvas;
    TFlatButton b("知道了", 0xFFFFFF, 0x2563EB, 0x1D4ED8, 0xFFFFFF, canvas);
    EXPECT_FALSE(b.Hover());
    b.SetEnabled(c.Enabled);
    if (c.Hover) b.MouseEnter();
    canvas.Clear();
    b.Paint(canvas);
    EXPECT_EQ(canvas.OfKind(TCanvasOp::coRoundRect).at(0).Fill, c.Face) << c.Hover << c.Enabled;
    EXPECT_EQ(canvas.OfKind(TCanvasOp::coText).at(0).Color, c.Text) << c.Hover << c.Enabled;
  }
}

TEST(FlatButton, StateChangesRepaintAndCaptionKeepsSize) {
  TRecordingCanvas canvas;
  int repaints = 0;
  int clicks = 0;
  TFlatButton b("OK", 0xFFFFFF, 0x2563EB, 0x1D4ED8, 0xFFFFFF, canvas, [&] { ++clicks; });
  b.OnInvalidate = [&] { ++repaints; };
  TSize before = b.Size();

  b.MouseEnter();
  EXPECT_TRUE(b.Hover());
  b.MouseLeave();
  EXPECT_FALSE(b.Hover());
  b.SetCaption("A caption far longer than the button");
  EXPECT_EQ(b.Caption(), "A caption far longer than the button");
  EXPECT_EQ(b.Size(), before);
  EXPECT_EQ(repaints, 3);

  b.Click();
  EXPECT_EQ(clicks, 1);
  b.SetEnabled(false);
  EXPECT_EQ(repaints, 4);
  b.Click();
  EXPECT_EQ(clicks, 1);
}

} // namespace
} // namespace hb
