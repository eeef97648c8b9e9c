// The error dialog's geometry from its texts, its painter, and how keys and clicks close it.
#include <gtest/gtest.h>

#include "RecordingCanvas.h"
#include "shell/ShellDialog.h"

namespace hb {
namespace {

using test::TCanvasOp;
using test::TRecordingCanvas;

// At 96 dpi on the recording canvas: 10 pt is 13 px (lines 17 high, a Chinese character 13
// wide), 13 pt is 17 px (lines 22 high).
const std::string kTitle = "遇到一点问题";

TEST(ShellDialogLayout, ButtonRowFollowsMessageHeight) {
  struct TCase {
    std::string Text;
    TRect Message;
    int ButtonRow;
  };
  const TCase cases[] = {
      // One line: 64 + 17 + 28 = 109, so the row stays at its floor.
      {"出错了", {76, 64, 39, 17}, 112},
      {"", {76, 64, 8, 17}, 112}, // measured as one blank
      // The program's own message: two lines, 64 + 34 + 28.
      {"机位图程序遇到问题，请关闭后重新打开。\r\n错误码 M900-7KQ2", {76, 64, 247, 34}, 126},
      // 100 characters wrap at 27 per line (351 px) into four lines.
      {std::string(), {76, 64, 351, 68}, 160},
  };
  for (TCase c : cases) {
    if (c.ButtonRow == 160)
      for (int i = 0; i < 100; ++i) c.Text += "字";
    TRecordingCanvas canvas;
    TShellDialogLayout l = LayoutShellDialog(kTitle, c.Text, {"知道了"}, canvas);
    EXPECT_EQ(l.Icon, (TRect{28, 28, 32, 32}));
    EXPECT_EQ(l.Title, (TRect{76, 30, 102, 22}));
    EXPECT_EQ(l.Message, c.Message) << c.Text;
    EXPECT_EQ(l.ButtonRowY, c.ButtonRow) << c.Text;
    EXPECT_EQ(l.Client, (TSize{460, c.ButtonRow + 62}));
    EXPECT_EQ(l.Region, (TRect{0, 0, 461, c.ButtonRow + 63}));
    ASSERT_EQ(l.Buttons.size(), 1u);
    EXPECT_EQ(l.Buttons[0], (TRect{340, c.ButtonRow, 96, 38}));
  }
}

TEST(ShellDialogLayout, ButtonsStandRightToLeftWithColours) {
  TRecordingCanvas canvas;
  // "Reconnect now please" is 192 wide; the others are raised to 96.
  std::vector<std::string> captions = {"取消", "Reconnect now please", "删除", "确定"};
  TShellDialogLayout l = LayoutShellDialog(kTitle, "x", captions, canvas);
  ASSERT_EQ(l.Buttons.size(), 4u);
  EXPECT_EQ(l.Buttons[3], (TRect{340, 112, 96, 38}));
  EXPECT_EQ(l.Buttons[2], (TRect{234, 112, 96, 38}));
  EXPECT_EQ(l.Buttons[1], (TRect{32, 112, 192, 38}));
  EXPECT_EQ(l.Buttons[0], (TRect{-74, 112, 96, 38})); // too many buttons run off the left edge

  struct TColourCase {
    int Index, Primary, Danger;
    TColor Normal, Hover, Text;
  };
  const TColourCase colours[] = {
      {0, 0, -1, 0x2563EB, 0x1D4ED8, 0xFFFFFF}, {1, 0, 1, 0xDC2626, 0xB91C1C, 0xFFFFFF},
      {0, 0, 0, 0xDC2626, 0xB91C1C, 0xFFFFFF}, // danger wins over primary
      {2, 0, 1, 0xF3F4F6, 0xE5E7EB, 0x374151},  {0, -1, -1, 0xF3F4F6, 0xE5E7EB, 0x374151},
  };
  for (const TColourCase& c : colours) {
    TDialogButtonColors got = DialogButtonColors(c.Index, c.Primary, c.Danger);
    EXPECT_EQ(got.Normal, c.Normal);
    EXPECT_EQ(got.Hover, c.Hover);
    EXPECT_EQ(got.Text, c.Text);
  }
}

TEST(ShellDialog, PaintsOutlineTextsAndButtons) {
  TRecordingCanvas canvas;
  TShellDialog d(kTitle, "A & B", {"取消", "删除"}, 0, 1, canvas);
  canvas.Clear();
  d.Paint(canvas);
  TRect client{0, 0, 460, 174};
  ASSERT_GE(canvas.Records.size(), 5u);
  EXPECT_EQ(canvas.Records[0].Op, TCanvasOp::coFillRect);
  EXPECT_EQ(canvas.Records[0].Rect, client);
  EXPECT_EQ(canvas.Records[0].Fill, 0xFFFFFFu);
  const auto& outline = canvas.Records[1];
  EXPECT_EQ(outline.Op, TCanvasOp::coRoundRect);
  EXPECT_EQ(outline.Rect, client);
  EXPECT_EQ(outline.EllipseW, 24);
  EXPECT_EQ(outline.EllipseH, 24);
  EXPECT_FALSE(outline.Fill.has_value());
  EXPECT_EQ(outline.Outline, 0xE5E7EBu);

  auto title = canvas.TextsEqual(kTitle);
  ASSERT_EQ(title.size(), 1u);
  EXPECT_EQ(title[0].Rect, d.Layout().Title);
  EXPECT_EQ(title[0].Font, (TFont{"Microsoft YaHei UI", 13, true}));
  EXPECT_EQ(title[0].Color, 0x1F2937u);
  auto message = canvas.TextsEqual("A & B");
  ASSERT_EQ(message.size(), 1u);
  EXPECT_EQ(message[0].Rect, d.Layout().Message);
  EXPECT_EQ(message[0].Font, (TFont{"Microsoft YaHei UI", 10, false}));
  EXPECT_EQ(message[0].Color, 0x4B5563u);
  EXPECT_TRUE(message[0].Flags & tfWordWrap);
  EXPECT_FALSE(message[0].Flags & tfMnemonic); // an '&' in an error message is shown as is

  auto faces = canvas.OfKind(TCanvasOp::coRoundRect);
  ASSERT_EQ(faces.size(), 3u);
  EXPECT_EQ(faces[1].Rect, d.Layout().Buttons[0]);
  EXPECT_EQ(faces[1].Fill, 0x2563EBu);
  EXPECT_EQ(faces[2].Rect, d.Layout().Buttons[1]);
  EXPECT_EQ(faces[2].Fill, 0xDC2626u);
}

TEST(ShellDialog, KeysAndClicksDecideResult) {
  TRecordingCanvas canvas;
  auto centre = [](const TRect& r) { return TPoint{r.Left + r.Width / 2, r.Top + r.Height / 2}; };

  { // Escape closes with -1; no other key is handled.
    TShellDialog d(kTitle, "x", {"知道了"}, 0, -1, canvas);
    int closes = 0;
    d.OnClose = [&] { ++closes; };
    EXPECT_FALSE(d.KeyDown(13));
    EXPECT_FALSE(d.Closed());
    EXPECT_TRUE(d.KeyDown(kKeyEscape));
    EXPECT_TRUE(d.Closed());
    EXPECT_EQ(d.Result(), -1);
    EXPECT_EQ(closes, 1);
  }
  { // A press and release on the second button returns its index.
    TShellDialog d(kTitle, "x", {"取消", "确定"}, 1, -1, canvas);
    TPoint p = centre(d.Layout().Buttons[1]);
    d.MouseDown(p.X, p.Y);
    d.MouseUp(p.X, p.Y);
    EXPECT_TRUE(d.Closed());
    EXPECT_EQ(d.Result(), 1);
  }
  { // Pressed on one button, released on another or beside the buttons: nothing happens.
    TShellDialog d(kTitle, "x", {"取消", "确定"}, 1, -1, canvas);
    TPoint a = centre(d.Layout().Buttons[0]);
    TPoint b = centre(d.Layout().Buttons[1]);
    d.MouseDown(a.X, a.Y);
    d.MouseUp(b.X, b.Y);
    d.MouseDown(10, 10);
    d.MouseUp(10, 10);
    EXPECT_FALSE(d.Closed());
    EXPECT_EQ(d.Result(), -1);
  }
  { // Without buttons only Escape or the system's close command ends the dialog.
    TShellDialog d(kTitle, "x", {}, 0, -1, canvas);
    EXPECT_TRUE(d.Layout().Buttons.empty());
    d.MouseDown(400, 140);
    d.MouseUp(400, 140);
    EXPECT_FALSE(d.Closed());
    d.Cancel();
    EXPECT_TRUE(d.Closed());
    EXPECT_EQ(d.Result(), -1);
  }
}

TEST(ShellDialog, HoverFollowsMouseAcrossButtons) {
  TRecordingCanvas canvas;
  TShellDialog d(kTitle, "x", {"取消", "确定"}, 1, -1, canvas);
  int repaints = 0;
  d.OnInvalidate = [&] { ++repaints; };
  const TRect& left = d.Layout().Buttons[0];
  const TRect& right = d.Layout().Buttons[1];
  d.MouseMove(left.Left + 1, left.Top + 1);
  EXPECT_TRUE(d.Buttons()[0].Hover());
  d.MouseMove(left.Left + 2, left.Top + 2); // still on it: no repaint
  d.MouseMove(right.Left, right.Top);
  EXPECT_FALSE(d.Buttons()[0].Hover());
  EXPECT_TRUE(d.Buttons()[1].Hover());
  canvas.Clear();
  d.Paint(canvas);
  EXPECT_EQ(canvas.OfKind(TCanvasOp::coRoundRect).at(2).Fill, 0x1D4ED8u);
  d.MouseLeave();
  EXPECT_FALSE(d.Buttons()[1].Hover());
  EXPECT_EQ(repaints, 4);
}

} // namespace
} // namespace hb
