#include "display/SeatMenu.h"

#include <algorithm>
#include <cmath>

namespace hb {

int ScaleMetric(int value, double scale) {
  // The factor counts to two decimals (1.25, 1.5, 1.75 are the usual ones); a nonsensical
  // factor from a broken DPI query falls back to 1.
  long pct = (std::isfinite(scale) && scale > 0) ? std::lround(scale * 100.0) : 100;
  if (pct <= 0) pct = 100;
  return static_cast<int>(std::lround(static_cast<double>(value) * pct / 100.0));
}

TSize EstimateTextSize(const std::string& text, const TFont& font, double scale) {
  const double em = font.PointSize * 96.0 * (scale > 0 ? scale : 1.0) / 72.0;
  double width = 0;
  for (unsigned char c : text) {
    if (c < 0x80)
      width += 0.55 * em;
    else if ((c & 0xC0) != 0x80) // the lead byte of a multi-byte character
      width += em;
  }
  return {static_cast<int>(std::lround(width)), static_cast<int>(std::lround(em * 1.3))};
}

TFont MenuHeaderFont() {
  return TFont{"Microsoft YaHei UI", 13, true};
}
TFont MenuSmallFont() {
  return TFont{"Microsoft YaHei UI", 10, false};
}
TFont MenuRowFont() {
  return TFont{"Microsoft YaHei UI", 12, false};
}

TSeatMenu::TSeatMenu(IWindowHost& owner, IUiQueue& queue, std::vector<TSeatMenuEntry> entries,
                     double scale, const TTextMeasure& measure)
    : FQueue(queue), FEntries(std::move(entries)), FScale(scale), FOwner(owner) {
  FRowH = Scaled(46);
  FSepH = Scaled(13);
  FHeadH = Scaled(66);
  FPad = Scaled(8);
  FMargin = Scaled(18);

  const TFont font = MenuRowFont();
  auto width = [&](const std::string& s) {
    if (s.empty()) return 0;
    return measure ? measure(s, font).Width : EstimateTextSize(s, font, FScale).Width;
  };
  int w = Scaled(280);
  for (const TSeatMenuEntry& e : FEntries)
    w = std::max(w, Scaled(110) + width(e.Caption) + width(e.Hint));
  FClient.Width = std::min(w, Scaled(560));
  int h = 2 * FPad;
  for (int i = 0; i < static_cast<int>(FEntries.size()); ++i) h += RowHeight(i);
  FClient.Height = h;

  FWindow = FOwner.CreatePopup(*this);

  for (int i = 0; i < static_cast<int>(FEntries.size()); ++i)
    if (FEntries[i].Checked) FHot = i;
  if (FHot < 0) MoveHot(+1);
}

TSeatMenu::~TSeatMenu() {
  // The window goes first, so no paint or input reaches a half-destroyed menu.
  FWindow.reset();
}

bool TSeatMenu::IsSelectable(int index) const {
  if (index < 0 || index >= static_cast<int>(FEntries.size())) return false;
  const TSeatMenuKind k = FEntries[index].Kind;
  return k == mkMap || k == mkAction;
}

int TSeatMenu::RowHeight(int index) const {
  if (index < 0 || index >= static_cast<int>(FEntries.size())) return FRowH;
  switch (FEntries[index].Kind) {
  case mkHeader:
    return FHeadH;
  case mkSep:
    return FSepH;
  default:
    return FRowH;
  }
}

int TSeatMenu::RowTop(int index) const {
  int top = FPad;
  for (int i = 0; i < index && i < static_cast<int>(FEntries.size()); ++i) top += RowHeight(i);
  return top;
}

int TSeatMenu::RowAt(int y) const {
  int top = FPad;
  for (int i = 0; i < static_cast<int>(FEntries.size()); ++i) {
    const int h = RowHeight(i);
    if (y >= top && y < top + h) return i;
    top += h;
  }
  return -1;
}

void TSeatMenu::MoveHot(int delta) {
  const int count = static_cast<int>(FEntries.size());
  if (count == 0) return;
  int i = FHot;
  for (int step = 0; step <= count; ++step) {
    i = ((i + delta) % count + count) % count;
    if (IsSelectable(i)) break;
  }
  if (IsSelectable(i)) FHot = i;
  Repaint();
}

void TSeatMenu::PopupAt(TPoint p) {
  const TRect wa = FOwner.MonitorNearest(p).WorkArea;
  int x = std::min(p.X, wa.Right() - FClient.Width - 4);
  x = std::max(x, wa.Left + 4);
  int y = std::min(p.Y, wa.Bottom() - FClient.Height - 4);
  y = std::max(y, wa.Top + 4);
  FBounds = {x, y, FClient.Width, FClient.Height};
  if (!FWindow) return;
  FWindow->SetBounds(FBounds);
  FWindow->Show();
}

void TSeatMenu::Fire(int index) {
  if (!IsSelectable(index)) return;
  std::function<void()> action = FEntries[index].Action;
  Hide();
  // Never inside the menu's own event: the menu finishes hiding before the window navigates
  // or closes (which may free this menu).
  if (action) FQueue.Post(std::move(action));
}

void TSeatMenu::Hide() {
  if (FWindow) FWindow->Hide();
}

bool TSeatMenu::Visible() const {
  return FWindow && FWindow->Visible();
}

void TSeatMenu::Repaint() {
  if (FWindow) FWindow->Invalidate();
}

void TSeatMenu::Paint(ICanvas& canvas) {
  const int w = FClient.Width;
  const int m = FMargin;
  canvas.FillRect({0, 0, w, FClient.Height}, kMenuBackground);
  canvas.FrameRect({0, 0, w, FClient.Height}, kMenuLine);
  const TFont headFont = MenuHeaderFont();
  const TFont smallFont = MenuSmallFont();
  const TFont rowFont = MenuRowFont();
  // Text boxes reach to the window's edge so that no text is ever cut short by its box.
  for (int i = 0; i < static_cast<int>(FEntries.size()); ++i) {
    const TSeatMenuEntry& e = FEntries[i];
    const int top = RowTop(i);
    switch (e.Kind) {
    case mkHeader: {
      const int ty = top + Scaled(9);
      canvas.Text({m, ty, w - m, canvas.MeasureText(e.Caption, headFont).Height}, e.Caption,
                  headFont, kMenuText, tfLeft | tfSingleLine);
      const int hy = top + Scaled(36);
      canvas.Text({m, hy, w - m, canvas.MeasureText(e.Hint, smallFont).Height}, e.Hint, smallFont,
                  kMenuHintText, tfLeft | tfSingleLine);
      const int ly = top + FHeadH - 2;
      canvas.Line({m, ly}, {w - m, ly}, kMenuLine);
      break;
    }
    case mkSep: {
      const int ly = top + FSepH / 2;
      canvas.Line({m, ly}, {w - m, ly}, kMenuLine);
      break;
    }
    case mkMap:
    case mkAction: {
      if (i == FHot)
        canvas.RoundRect({FPad, top + 3, w - 2 * FPad, FRowH - 6}, Scaled(14), Scaled(14), kMenuHot,
                         kMenuHot);
      const int cy = top + FRowH / 2;
      int indent = 0;
      if (e.Kind == mkMap) {
        indent = Scaled(22);
        const TRect dot{m, cy - Scaled(5), Scaled(10), 2 * Scaled(5)};
        if (e.Checked)
          canvas.Ellipse(dot, kMenuChecked, kMenuChecked);
        else
          canvas.Ellipse(dot, std::nullopt, kMenuHintText);
      }
      const TColor color = e.Checked ? kMenuChecked : e.Danger ? kMenuDanger : kMenuText;
      const int th = canvas.MeasureText(e.Caption, rowFont).Height;
      canvas.Text({m + indent, cy - th / 2, w - m - indent, th}, e.Caption, rowFont, color,
                  tfLeft | tfSingleLine);
      if (!e.Hint.empty()) {
        const int hh = canvas.MeasureText(e.Hint, smallFont).Height;
        canvas.Text({0, cy - hh / 2, w - m, hh}, e.Hint, smallFont, kMenuHintText,
                    tfRight | tfSingleLine);
      }
      break;
    }
    }
  }
}

void TSeatMenu::MouseMove(int, int y) {
  const int i = RowAt(y);
  if (IsSelectable(i) && i != FHot) {
    FHot = i;
    Repaint();
  }
}

void TSeatMenu::MouseUp(TMouseButton button, int, int y) {
  if (button == TMouseButton::mbLeft) Fire(RowAt(y));
}

void TSeatMenu::KeyDown(int key) {
  switch (key) {
  case vkReturn:
  case vkSpace:
    Fire(FHot);
    break;
  case vkEscape:
    Hide();
    break;
  case vkUp:
    MoveHot(-1);
    break;
  case vkDown:
    MoveHot(+1);
    break;
  default:
    break;
  }
}

void TSeatMenu::Deactivated() {
  Hide();
}

} // namespace hb
