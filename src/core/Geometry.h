#pragma once
// Pixel geometry and colours shared by the painters and the window hosts.
#include <cmath>
#include <cstdint>

namespace hb {

// A rectangle by its left/top corner and its size, in pixels.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
  bool Contains(int x, int y) const { return x >= Left && x < Right() && y >= Top && y < Bottom(); }
  bool operator==(const TRect&) const = default;
};

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TSize {
  int Width = 0;
  int Height = 0;
  bool operator==(const TSize&) const = default;
};

// A colour written as 0xRRGGBB (the way the program's colours are given: #070D18 is 0x070D18).
using TColor = uint32_t;
constexpr uint8_t RedOf(TColor c) {
  return static_cast<uint8_t>((c >> 16) & 0xFF);
}
constexpr uint8_t GreenOf(TColor c) {
  return static_cast<uint8_t>((c >> 8) & 0xFF);
}
constexpr uint8_t BlueOf(TColor c) {
  return static_cast<uint8_t>(c & 0xFF);
}

// The program's own drawing is laid out at 96 DPI; on a surface of another DPI every length,
// font and gap grows by one factor, dpi / 96 taken to two decimals (1.25, 1.5, 2, 3), the
// product rounded to the nearest pixel. A nonsensical factor from a broken DPI query (0 or less,
// not a number) counts as 1.
constexpr int kBaseDpi = 96;
inline int ScaleMetric(int value, double scale) {
  long pct = (std::isfinite(scale) && scale > 0) ? std::lround(scale * 100.0) : 100;
  if (pct <= 0) pct = 100;
  return static_cast<int>(std::lround(static_cast<double>(value) * pct / 100.0));
}
inline int ScaleToDpi(int value96, int dpi) {
  return ScaleMetric(value96, static_cast<double>(dpi) / kBaseDpi);
}

} // namespace hb
