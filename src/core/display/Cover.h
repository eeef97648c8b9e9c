#pragma once
// The cover: a full-window panel above the browser with the program's icon and three lines of
// text, which says what the program is doing or what is wrong. Its layout, texts, fonts and
// colours live here; the shells only forward its paint and size changes.
#include <string>

#include "Geometry.h"
#include "ICanvas.h"

namespace hb {

constexpr TColor kCoverBackground = 0x070D18;
constexpr TColor kCoverTitleColor = 0xE6EEF6;
constexpr TColor kCoverDetailColor = 0x8098B4;
constexpr TColor kCoverHintColor = 0x6F88A0;
constexpr int kCoverIconSize = 96;
constexpr int kCoverDetailWidth = 760;
constexpr const char* kCoverIconName = "MAINICON";

TFont CoverTitleFont();  // 26 pt bold
TFont CoverDetailFont(); // 14 pt
TFont CoverHintFont();   // 11 pt

// Texts of the cover.
constexpr const char* kStartingTitle = "正在打开机位图";
constexpr const char* kStartingDetail = "正在连接门店网关…";
constexpr const char* kHintNoCountdown = "右键可退出";
constexpr const char* kReconnectingDetail = "正在重新连接门店网关…";
// "%d 秒后自动重试 · 右键可退出"; a negative count shows 0.
std::string CountdownHint(int seconds);

// One label of the cover: its text and its place.
struct TCoverLabel {
  std::string Text;
  TRect Bounds;
};

// Places in the cover's client coordinates. The detail keeps its width of 760 even on a
// narrower window, centred, so its left edge may be negative. Every length is the 96-DPI one
// scaled to dpi, the same factor the fonts grow by, so the texts keep fitting their boxes.
struct TCoverLayout {
  TRect Icon;
  TRect Title;
  TRect Detail;
  TRect Hint;
  bool operator==(const TCoverLayout&) const = default;
};
TCoverLayout LayoutCover(TSize client, int dpi = kBaseDpi);
// The layout for a detail text as canvas wraps it: a detail longer than its three lines makes its
// box taller, the hint moves down with it, and the whole block moves up when it would leave the
// window, so the incident tag at its end is never cut off.
TCoverLayout LayoutCoverFor(TSize client, ICanvas& canvas, const std::string& detail);

// Draws the whole cover: background, icon, and the three labels at their places.
void PaintCoverTo(ICanvas& canvas, TSize client, const TCoverLayout& layout,
                  const std::string& title, const std::string& detail, const std::string& hint);

} // namespace hb
