#include "display/Cover.h"

#include <algorithm>
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

TCoverLayout LayoutCover(TSize client, int dpi) {
  // Integer halving rounds toward zero, as C++ division does, also for a window narrower
  // than the detail's fixed width.
  auto s = [dpi](int v) { return ScaleToDpi(v, dpi); };
  const int w = client.Width;
  const int m = client.Height / 2;
  const int icon = s(kCoverIconSize);
  const int detailWidth = s(kCoverDetailWidth);
  TCoverLayout l;
  l.Icon = {(w - icon) / 2, m - s(150), icon, icon};
  l.Title = {s(40), m - s(30), w - s(80), s(48)};
  l.Detail = {(w - detailWidth) / 2, m + s(28), detailWidth, s(80)};
  l.Hint = {s(40), m + s(118), w - s(80), s(28)};
  return l;
}

TCoverLayout LayoutCoverFor(TSize client, ICanvas& canvas, const std::string& detail) {
  TCoverLayout l = LayoutCover(client, canvas.Dpi());
  if (detail.empty()) return l;
  const int need = canvas.MeasureText(detail, CoverDetailFont(), l.Detail.Width).Height;
  const int grow = need - l.Detail.Height;
  if (grow <= 0) return l;
  l.Detail.Height += grow;
  l.Hint.Top += grow;
  // Up by the overflow below the window, but never above its top edge.
  const int up = std::min(std::max(l.Hint.Bottom() - client.Height, 0), std::max(l.Icon.Top, 0));
  for (TRect* r : {&l.Icon, &l.Title, &l.Detail, &l.Hint}) r->Top -= up;
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
