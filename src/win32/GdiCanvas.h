#pragma once
// ICanvas over a GDI device context, and double-buffered painting of a window through it.
#include <windows.h>

#include <functional>
#include <map>
#include <tuple>

#include "ICanvas.h"

namespace hb::win {

class TGdiCanvas : public ICanvas {
 public:
  // Draws on dc (not owned); point sizes become pixels at dpi. Without a dc, a screen-compatible
  // memory context is made for measuring.
  TGdiCanvas(HDC dc, int dpi);
  ~TGdiCanvas() override;
  TGdiCanvas(const TGdiCanvas&) = delete;
  TGdiCanvas& operator=(const TGdiCanvas&) = delete;

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
  HFONT Font(const TFont& font);
  void Shape(bool ellipse, const TRect& r, int ew, int eh, std::optional<TColor> fill,
             std::optional<TColor> outline);

  HDC FDc;
  bool FOwnDc = false;
  int FDpi;
  HGDIOBJ FOldFont = nullptr;
  std::map<std::tuple<std::string, int, bool>, HFONT> FFonts;
};

constexpr COLORREF ColorRef(TColor c) {
  return RGB(RedOf(c), GreenOf(c), BlueOf(c));
}

// Paints the window for WM_PAINT into an off-screen bitmap and copies it in one step, so a
// repaint never flickers. paint receives a canvas over the bitmap at the window's DPI.
void PaintBuffered(HWND hwnd, const std::function<void(ICanvas&)>& paint);

// The DPI of the monitor a window is on (96 where the system cannot tell).
int WindowDpi(HWND hwnd);

} // namespace hb::win
