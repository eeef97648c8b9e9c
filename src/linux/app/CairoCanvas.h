#pragma once
// ICanvas over cairo with text through pango. The program's face "Microsoft YaHei UI" is asked
// for first; fontconfig falls back to an installed CJK face for what it lacks.
#include <cairo.h>
#include <pango/pangocairo.h>

#include "ICanvas.h"

namespace hb::lin {

// The family list pango is given for a face: the face itself, then the CJK faces Debian ships.
std::string FontFamilies(const std::string& face);

class TCairoCanvas : public ICanvas {
 public:
  // Draws on cr (not owned). dpi turns point sizes into pixels.
  TCairoCanvas(cairo_t* cr, int dpi);
  ~TCairoCanvas() override;
  TCairoCanvas(const TCairoCanvas&) = delete;
  TCairoCanvas& operator=(const TCairoCanvas&) = delete;

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

 private:
  PangoLayout* Layout(const std::string& text, const TFont& font, unsigned flags, int wrapWidth);
  void Source(TColor c);

  cairo_t* FCr;
  int FDpi;
  PangoLayout* FLayout = nullptr;
};

// The surface under a measuring canvas; a base of it so it exists before the canvas.
struct TMeasureSurface {
  TMeasureSurface();
  ~TMeasureSurface();
  TMeasureSurface(const TMeasureSurface&) = delete;
  TMeasureSurface& operator=(const TMeasureSurface&) = delete;
  cairo_surface_t* Surface;
  cairo_t* Cr;
};

// A canvas for measuring only (no window yet): a small image surface at the given DPI.
class TMeasureCanvas : private TMeasureSurface, public TCairoCanvas {
 public:
  explicit TMeasureCanvas(int dpi = 96) : TCairoCanvas(Cr, dpi) {}
  ICanvas& Canvas() { return *this; }
};

} // namespace hb::lin
