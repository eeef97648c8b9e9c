#include "display/SeatMenu.h"

#include <algorithm>
#include <cmath>

namespace hb {

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

  const int count = static_cast<int>(FEntries.size());
  FTops.resize(static_cast<size_t>(count) + 1);
  FTops[0] = FPad;
  for (int i = 0; i < count; ++i) FTops[i + 1] = FTops[i] + RowHeight(i);
  // The map rows: the run that starts at the first map row.
  FMapBegin = count;
  for (int i = 0; i < count; ++i)
    if (FEntries[i].Kind == mkMap) {
      FMapBegin = i;
      break;
    }
  FMapEnd = FMapBegin;
  while (FMapEnd < count && FEntries[FMapEnd].Kind == mkMap) ++FMapEnd;
  FFirstVisible = FMapBegin;
  FVisibleRows = FMapEnd - FMapBegin;
  FClient.Height = FTops[count] + FPad;

  FWindow = FOwner.CreatePopup(*this);

  for (int i = 0; i < count; ++i)
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
  const int count = static_cast<int>(FEntries.size());
  index = std::clamp(index, 0, count);
  if (index < FMapBegin) return FTops[index];
  if (index < FMapEnd) return ViewTop() + (index - FFirstVisible) * FRowH;
  return ViewTop() + ViewHeight() + FTops[index] - FTops[FMapEnd];
}

int TSeatMenu::RowAt(int y) const {
  const int count = static_cast<int>(FEntries.size());
  if (y < FPad) return -1;
  auto search = [&](int from, int to, int contentY) {
    // The last row in [from, to) whose top is at or above contentY.
    auto first = FTops.begin() + from, last = FTops.begin() + to;
    auto it = std::upper_bound(first, last, contentY);
    return it == first ? -1 : static_cast<int>(it - FTops.begin()) - 1;
  };
  if (y < ViewTop()) return search(0, FMapBegin, y);
  if (y < ViewTop() + ViewHeight()) return FFirstVisible + (y - ViewTop()) / FRowH;
  const int contentY = y - ViewTop() - ViewHeight() + FTops[FMapEnd];
  if (contentY >= FTops[count]) return -1; // the bottom margin and below
  return search(FMapEnd, count, contentY);
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
  EnsureVisible(FHot);
  Repaint();
}

void TSeatMenu::MovePage(int delta) {
  // Within the map rows a page is the rows in view; elsewhere it is one step.
  if (FHot < FMapBegin || FHot >= FMapEnd || FVisibleRows <= 1) return MoveHot(delta);
  FHot = std::clamp(FHot + delta * (FVisibleRows - 1), FMapBegin, FMapEnd - 1);
  EnsureVisible(FHot);
  Repaint();
}

void TSeatMenu::EnsureVisible(int index) {
  if (index < FMapBegin || index >= FMapEnd) return;
  if (index < FFirstVisible)
    FFirstVisible = index;
  else if (index >= FFirstVisible + FVisibleRows)
    FFirstVisible = index - FVisibleRows + 1;
}

void TSeatMenu::ScrollBy(int rows) {
  const int last = FMapEnd - FVisibleRows;
  const int first = std::clamp(FFirstVisible + rows, FMapBegin, std::max(last, FMapBegin));
  if (first == FFirstVisible) return;
  FFirstVisible = first;
  Repaint();
}

void TSeatMenu::FitHeight(int maxHeight) {
  const int maps = FMapEnd - FMapBegin;
  const int fixed = FTops[FMapBegin] + (FTops.back() - FTops[FMapEnd]) + FPad;
  int rows = maps;
  // At least one map row stays in view, when there is one: a menu without maps has none.
  if (fixed + maps * FRowH > maxHeight)
    rows = std::clamp((maxHeight - fixed) / FRowH, std::min(1, maps), maps);
  FVisibleRows = rows;
  FClient.Height = fixed + rows * FRowH;
  // The map on display opens in the middle of the rows in view where the list allows it.
  if (FHot >= FMapBegin && FHot < FMapEnd)
    FFirstVisible = std::clamp(FHot - rows / 2, FMapBegin, FMapEnd - rows);
  else
    FFirstVisible = FMapBegin;
}

void TSeatMenu::PopupAt(TPoint p) {
  const TRect wa = FOwner.MonitorNearest(p).WorkArea;
  // 4 pixels of margin on each side; a work area the system could not tell limits nothing.
  if (wa.Height > 8) FitHeight(wa.Height - 8);
  if (wa.Width > 8) FClient.Width = std::min(FClient.Width, wa.Width - 8);
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
  canvas.FillRect({0, 0, w, FClient.Height}, kMenuBackground);
  canvas.FrameRect({0, 0, w, FClient.Height}, kMenuLine);
  // Only the rows in view are drawn: the cost of a paint does not grow with the list.
  const int count = static_cast<int>(FEntries.size());
  for (int i = 0; i < FMapBegin; ++i) PaintRow(canvas, i, RowTop(i));
  for (int i = FFirstVisible; i < FFirstVisible + FVisibleRows; ++i) PaintRow(canvas, i, RowTop(i));
  for (int i = FMapEnd; i < count; ++i) PaintRow(canvas, i, RowTop(i));
  if (Scrolls()) {
    // A thin bar at the right edge tells how much of the list is in view, and where.
    const int maps = FMapEnd - FMapBegin;
    const int track = ViewHeight();
    const int thumb =
        std::max(Scaled(16), static_cast<int>(static_cast<int64_t>(track) * FVisibleRows / maps));
    const int range = std::max(maps - FVisibleRows, 1);
    const int at =
        static_cast<int>(static_cast<int64_t>(track - thumb) * (FFirstVisible - FMapBegin) / range);
    canvas.RoundRect({w - Scaled(7), ViewTop() + at, Scaled(4), thumb}, Scaled(4), Scaled(4),
                     kMenuLine, kMenuLine);
  }
}

void TSeatMenu::PaintRow(ICanvas& canvas, int i, int top) {
  const int w = FClient.Width;
  const int m = FMargin;
  const TSeatMenuEntry& e = FEntries[i];
  // Text boxes reach to the window's edge so that no text is ever cut short by its box.
  switch (e.Kind) {
  case mkHeader: {
    const TFont headFont = MenuHeaderFont();
    const TFont smallFont = MenuSmallFont();
    const int ty = top + Scaled(9);
    canvas.Text({m, ty, w - m, canvas.MeasureText(e.Caption, headFont).Height}, e.Caption, headFont,
                kMenuText, tfLeft | tfSingleLine);
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
    const TFont rowFont = MenuRowFont();
    const TFont smallFont = MenuSmallFont();
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
  case vkPrior:
    MovePage(-1);
    break;
  case vkNext:
    MovePage(+1);
    break;
  case vkDown:
    MoveHot(+1);
    break;
  default:
    break;
  }
}

void TSeatMenu::MouseWheel(int notches) {
  // Three rows a notch, as list boxes scroll.
  ScrollBy(-3 * notches);
}

void TSeatMenu::Deactivated() {
  Hide();
}

} // namespace hb
