#pragma once
// What the core's painters draw with: GDI on Windows, cairo + pango on Linux, a recorder in tests.
#include <optional>
#include <string>

#include "Geometry.h"

namespace hb {

struct TFont {
  std::string Face = "Microsoft YaHei UI";
  int PointSize = 10;
  bool Bold = false;
  bool operator==(const TFont&) const = default;
};

// Text placement inside its box.
enum TTextFlags : unsigned {
  tfLeft = 0,
  tfCenter = 1,
  tfRight = 2,
  tfTop = 0,
  tfVCenter = 4,
  tfBottom = 8,
  tfSingleLine = 16,
  tfWordWrap = 32,
  tfMnemonic = 64,  // '&' marks the next character (underlined), as the system's text drawing does
};

class ICanvas {
public:
  virtual ~ICanvas() = default;
  // Pixels per inch of the surface; point sizes turn into pixels with it.
  virtual int Dpi() const = 0;
  virtual void FillRect(const TRect& r, TColor color) = 0;
  virtual void FrameRect(const TRect& r, TColor color) = 0;  // one-pixel outline, no fill
  // Rounded rectangle with corner ellipses ew x eh; fill optional, outline one pixel.
  virtual void RoundRect(const TRect& r, int ew, int eh, std::optional<TColor> fill,
                         std::optional<TColor> outline) = 0;
  virtual void Ellipse(const TRect& r, std::optional<TColor> fill,
                       std::optional<TColor> outline) = 0;
  virtual void Line(TPoint from, TPoint to, TColor color) = 0;  // one pixel wide
  // Text drawn with a transparent background inside box, aligned by flags and clipped to box.
  virtual void Text(const TRect& box, const std::string& text, const TFont& font, TColor color,
                    unsigned flags) = 0;
  // Size of text in font; with wrapWidth > 0 the text is wrapped at that width.
  virtual TSize MeasureText(const std::string& text, const TFont& font, int wrapWidth = 0) = 0;
  // The program's icon resource (e.g. "MAINICON") drawn into r; a missing one draws nothing.
  virtual void Icon(const std::string& name, const TRect& r) = 0;
};

} // namespace hb
