#include "shell/ShellDialog.h"

#include <algorithm>

namespace hb {

namespace {

constexpr TRect kIconPlace{28, 28, 32, 32};
constexpr TPoint kTitleAt{76, 30};
constexpr TPoint kMessageAt{76, 64};
constexpr int kMessageToButtons = 28;
constexpr int kBelowButtons = 62; // 38 of button and 24 of margin
constexpr int kButtonsRightEdge = 436;

} // namespace

TFont DialogTitleFont() {
  return TFont{"Microsoft YaHei UI", 13, true};
}
TFont DialogMessageFont() {
  return TFont{"Microsoft YaHei UI", 10, false};
}

TDialogButtonColors DialogButtonColors(int index, int primaryIndex, int dangerIndex) {
  if (index == dangerIndex) return {0xDC2626, 0xB91C1C, 0xFFFFFF};
  if (index == primaryIndex) return {0x2563EB, 0x1D4ED8, 0xFFFFFF};
  return {0xF3F4F6, 0xE5E7EB, 0x374151};
}

TShellDialogLayout LayoutShellDialog(const std::string& title, const std::string& text,
                                     const std::vector<std::string>& buttons, ICanvas& measure) {
  // Every length grows with the measuring canvas's DPI, by the factor its fonts grow by.
  auto s = [dpi = measure.Dpi()](int v) { return ScaleToDpi(v, dpi); };
  TShellDialogLayout l;
  l.Corner = s(kDialogCorner);
  l.Icon = {s(kIconPlace.Left), s(kIconPlace.Top), s(kIconPlace.Width), s(kIconPlace.Height)};

  TSize titleSize = measure.MeasureText(title, DialogTitleFont());
  l.Title = {s(kTitleAt.X), s(kTitleAt.Y), titleSize.Width, titleSize.Height};

  // An empty message still takes one line, as a label does; a word wider than the column is cut
  // back to it rather than widening the dialog.
  const int column = s(kDialogMessageWidth);
  TSize msg =
      measure.MeasureText(text.empty() ? std::string(" ") : text, DialogMessageFont(), column);
  l.Message = {s(kMessageAt.X), s(kMessageAt.Y), std::min(msg.Width, column), msg.Height};

  l.ButtonRowY = std::max(l.Message.Bottom() + s(kMessageToButtons), s(kDialogMinButtonRow));
  l.Client = {s(kDialogClientWidth), l.ButtonRowY + s(kBelowButtons)};
  l.Region = {0, 0, l.Client.Width + 1, l.Client.Height + 1};

  // Right to left from the last caption, so the list reads left to right.
  l.Buttons.resize(buttons.size());
  int x = s(kButtonsRightEdge);
  for (size_t i = buttons.size(); i-- > 0;) {
    int width = std::max(TFlatButton::SizeFor(buttons[i], measure).Width, s(kDialogMinButtonWidth));
    x -= width;
    l.Buttons[i] = {x, l.ButtonRowY, width, s(kDialogButtonHeight)};
    x -= s(kDialogButtonGap);
  }
  return l;
}

TShellDialog::TShellDialog(std::string title, std::string text,
                           const std::vector<std::string>& buttons, int primaryIndex,
                           int dangerIndex, ICanvas& measure)
    : FTitle(std::move(title)), FText(std::move(text)) {
  FLayout = LayoutShellDialog(FTitle, FText, buttons, measure);
  FButtons.reserve(buttons.size());
  for (size_t i = 0; i < buttons.size(); ++i) {
    TDialogButtonColors c = DialogButtonColors(static_cast<int>(i), primaryIndex, dangerIndex);
    FButtons.emplace_back(buttons[i], kDialogBackground, c.Normal, c.Hover, c.Text, measure);
    TFlatButton& b = FButtons.back();
    b.Tag = static_cast<int>(i);
    b.SetSize({FLayout.Buttons[i].Width, FLayout.Buttons[i].Height});
    b.OnClick = [this, tag = b.Tag] {
      FResult = tag;
      Close();
    };
    b.OnInvalidate = [this] {
      if (OnInvalidate) OnInvalidate();
    };
  }
}

void TShellDialog::Paint(ICanvas& canvas) const {
  TRect client{0, 0, FLayout.Client.Width, FLayout.Client.Height};
  canvas.FillRect(client, kDialogBackground);
  canvas.RoundRect(client, FLayout.Corner, FLayout.Corner, std::nullopt, kDialogOutline);
  // The program carries no icon of this name, so the place stays empty on purpose.
  canvas.Icon(kDialogIconName, FLayout.Icon);
  // Texts are shown exactly: an '&' in an error message is part of it, not a mnemonic.
  canvas.Text(FLayout.Title, FTitle, DialogTitleFont(), kDialogTitleColor, tfLeft | tfSingleLine);
  canvas.Text(FLayout.Message, FText, DialogMessageFont(), kDialogMessageColor,
              tfLeft | tfWordWrap);
  for (size_t i = 0; i < FButtons.size(); ++i)
    FButtons[i].Paint(canvas, {FLayout.Buttons[i].Left, FLayout.Buttons[i].Top});
}

int TShellDialog::ButtonAt(int x, int y) const {
  for (size_t i = 0; i < FLayout.Buttons.size(); ++i)
    if (FLayout.Buttons[i].Contains(x, y)) return static_cast<int>(i);
  return -1;
}

void TShellDialog::MouseMove(int x, int y) {
  int hot = ButtonAt(x, y);
  if (hot == FHot) return;
  if (FHot >= 0) FButtons[FHot].MouseLeave();
  FHot = hot;
  if (FHot >= 0) FButtons[FHot].MouseEnter();
}

void TShellDialog::MouseLeave() {
  if (FHot >= 0) FButtons[FHot].MouseLeave();
  FHot = -1;
  FPressed = -1;
}

void TShellDialog::MouseDown(int x, int y) {
  FPressed = ButtonAt(x, y);
}

void TShellDialog::MouseUp(int x, int y) {
  int pressed = FPressed;
  FPressed = -1;
  if (FClosed || pressed < 0 || ButtonAt(x, y) != pressed) return;
  FButtons[pressed].Click();
}

bool TShellDialog::KeyDown(int virtualKey) {
  if (virtualKey != kKeyEscape) return false;
  FResult = -1;
  Close();
  return true;
}

void TShellDialog::Cancel() {
  Close();
}

void TShellDialog::Close() {
  if (FClosed) return;
  FClosed = true;
  if (OnClose) OnClose();
}

} // namespace hb
