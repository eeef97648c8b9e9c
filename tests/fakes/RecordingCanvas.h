#pragma once
// ICanvas for tests: keeps every call as a record and measures text with fixed, predictable
// widths, so layouts computed from measurements come out as exact numbers.
//
// Measuring: pixel size = point size x Dpi / 72 (rounded); an ASCII character is 0.6 x pixel
// size wide, any other character 1.0 x pixel size; a line is pixel size x 1.3 high (rounded).
// With tfMnemonic-style text the '&' markers still count (the canvas measures what it is given).
// Wrapping breaks at spaces where it can, otherwise between characters, and at line breaks.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ICanvas.h"

namespace hb {
// Readable failure messages for geometry in tests.
inline void PrintTo(const TRect& r, std::ostream* os) {
  *os << "{" << r.Left << ", " << r.Top << ", " << r.Width << " x " << r.Height << "}";
}
inline void PrintTo(const TSize& s, std::ostream* os) {
  *os << s.Width << " x " << s.Height;
}
inline void PrintTo(const TPoint& p, std::ostream* os) {
  *os << "(" << p.X << ", " << p.Y << ")";
}
} // namespace hb

namespace hb::test {

enum class TCanvasOp { coFillRect, coFrameRect, coRoundRect, coEllipse, coLine, coText, coIcon };

struct TCanvasRecord {
  TCanvasOp Op = TCanvasOp::coFillRect;
  TRect Rect;                     // the box of every call but Line
  TPoint From, To;                // Line only
  int EllipseW = 0, EllipseH = 0; // RoundRect only
  std::optional<TColor> Fill;     // FillRect: the colour; RoundRect/Ellipse: the fill
  std::optional<TColor> Outline;  // FrameRect/Line: the colour; RoundRect/Ellipse: the outline
  std::string Text;               // Text: the text; Icon: the name
  TFont Font;                     // Text only
  TColor Color = 0;               // Text only
  unsigned Flags = 0;             // Text only
};

class TRecordingCanvas : public ICanvas {
 public:
  explicit TRecordingCanvas(int dpi = 96) : FDpi(dpi) {}

  std::vector<TCanvasRecord> Records;

  int Dpi() const override { return FDpi; }
  void FillRect(const TRect& r, TColor color) override;
  void FrameRect(const TRect& r, TColor color) override;
  void RoundRect(const TRect& r, int ew, int eh, std::optional<TColor> fill,
                 std::optional<TColor> outline) override;
  void Ellipse(const TRect& r, std::optional<TColor> fill, std::optional<TColor> outline) override;
  void Line(TPoint from, TPoint to, TColor color) override;
  void Text(const TRect& box, const std::string& text, const TFont& font, TColor color,
            unsigned flags) override;
  TSize MeasureText(const std::string& text, const TFont& font, int wrapWidth = 0) override;
  void Icon(const std::string& name, const TRect& r) override;

  // The measuring rules, usable by tests to compute expected numbers.
  int PixelSize(const TFont& font) const;
  int LineHeight(const TFont& font) const;
  // Width of one line of text (no wrapping), in pixels.
  int LineWidth(const std::string& text, const TFont& font) const;

  // Records of one kind, in call order.
  std::vector<TCanvasRecord> OfKind(TCanvasOp op) const;
  // The Text records whose text is exactly text.
  std::vector<TCanvasRecord> TextsEqual(const std::string& text) const;
  void Clear() { Records.clear(); }

 private:
  int FDpi;
};

} // namespace hb::test
