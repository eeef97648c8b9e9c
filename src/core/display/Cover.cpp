#include "display/Cover.h"

#include <cstdio>

namespace hb {

TFont CoverTitleFont() {
  return TFont{"Microsoft YaHei UI", 26, true};
}
TFont CoverDetailFont() {
  return TFont{"Microsoft YaHei UI", 14, false};
}
TFont CoverHintFont() {
  return TFont{"Microsoft YaHei UI", 11, false};
}

std::string CountdownHint(int seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d 秒后自动重试 · 右键可退出", seconds < 0 ? 0 : seconds);
  return buf;
}

TCoverLayout LayoutCover(TSize client) {
  // Integer halving rounds toward zero, as C++ division does, also for a window narrower
  // than the detail's fixed width.
  const int w = client.Width;
  const int m = client.Height / 2;
  TCoverLayout l;
  l.Icon = {(w - kCoverIconSize) / 2, m - 150, kCoverIconSize, kCoverIconSize};
  l.Title = {40, m - 30, w - 80, 48};
  l.Detail = {(w - kCoverDetailWidth) / 2, m + 28, kCoverDetailWidth, 80};
  l.Hint = {40, m + 118, w - 80, 28};
  return l;
}

void PaintCoverTo(ICanvas& canvas, TSize client, const TCoverLayout& layout,
                  const std::string& title, const std::string& detail, const std::string& hint) {
  canvas.FillRect({0, 0, client.Width, client.Height}, kCoverBackground);
  canvas.Icon(kCoverIconName, layout.Icon);
  canvas.Text(layout.Title, title, CoverTitleFont(), kCoverTitleColor, tfCenter | tfSingleLine);
  canvas.Text(layout.Detail, detail, CoverDetailFont(), kCoverDetailColor, tfCenter | tfWordWrap);
  canvas.Text(layout.Hint, hint, CoverHintFont(), kCoverHintColor, tfCenter | tfSingleLine);
}

} // namespace hb
