// GDI drawing behind ICanvas. Depends on gdi32 and user32 only.
#include "GdiCanvas.h"

#include <algorithm>

#include "WinText.h"

namespace hb::win {

TGdiCanvas::TGdiCanvas(HDC dc, int dpi) : FDc(dc), FDpi(dpi > 0 ? dpi : 96) {
  if (!FDc) {
    FDc = CreateCompatibleDC(nullptr);
    FOwnDc = FDc != nullptr;
  }
  if (FDc) SetBkMode(FDc, TRANSPARENT);
}

TGdiCanvas::~TGdiCanvas() {
  if (FDc && FOldFont) SelectObject(FDc, FOldFont);
  for (auto& [key, font] : FFonts) DeleteObject(font);
  if (FOwnDc) DeleteDC(FDc);
}

HFONT TGdiCanvas::Font(const TFont& font) {
  auto key = std::make_tuple(font.Face, font.PointSize, font.Bold);
  auto it = FFonts.find(key);
  if (it != FFonts.end()) return it->second;
  HFONT f =
      CreateFontW(-MulDiv(font.PointSize, FDpi, 72), 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL,
                  FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                  CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Wide(font.Face).c_str());
  if (f) FFonts.emplace(key, f);
  return f;
}

void TGdiCanvas::FillRect(const TRect& r, TColor color) {
  RECT rc{r.Left, r.Top, r.Right(), r.Bottom()};
  HBRUSH b = CreateSolidBrush(ColorRef(color));
  if (!b) return;
  ::FillRect(FDc, &rc, b);
  DeleteObject(b);
}

void TGdiCanvas::FrameRect(const TRect& r, TColor color) {
  RECT rc{r.Left, r.Top, r.Right(), r.Bottom()};
  HBRUSH b = CreateSolidBrush(ColorRef(color));
  if (!b) return;
  ::FrameRect(FDc, &rc, b);
  DeleteObject(b);
}

void TGdiCanvas::Shape(bool ellipse, const TRect& r, int ew, int eh, std::optional<TColor> fill,
                       std::optional<TColor> outline) {
  if (!fill && !outline) return;
  // Without an outline the edge is drawn in the fill colour, so a filled shape keeps its full size.
  HPEN pen = CreatePen(PS_SOLID, 1, ColorRef(outline ? *outline : *fill));
  HBRUSH brush = fill ? CreateSolidBrush(ColorRef(*fill)) : nullptr;
  HGDIOBJ oldPen = SelectObject(FDc, pen ? pen : GetStockObject(NULL_PEN));
  HGDIOBJ oldBrush = SelectObject(FDc, brush ? brush : GetStockObject(NULL_BRUSH));
  if (ellipse)
    ::Ellipse(FDc, r.Left, r.Top, r.Right(), r.Bottom());
  else
    ::RoundRect(FDc, r.Left, r.Top, r.Right(), r.Bottom(), ew, eh);
  SelectObject(FDc, oldPen);
  SelectObject(FDc, oldBrush);
  if (pen) DeleteObject(pen);
  if (brush) DeleteObject(brush);
}

void TGdiCanvas::RoundRect(const TRect& r, int ew, int eh, std::optional<TColor> fill,
                           std::optional<TColor> outline) {
  Shape(false, r, ew, eh, fill, outline);
}

void TGdiCanvas::Ellipse(const TRect& r, std::optional<TColor> fill,
                         std::optional<TColor> outline) {
  Shape(true, r, 0, 0, fill, outline);
}

void TGdiCanvas::Line(TPoint from, TPoint to, TColor color) {
  HPEN pen = CreatePen(PS_SOLID, 1, ColorRef(color));
  if (!pen) return;
  HGDIOBJ old = SelectObject(FDc, pen);
  MoveToEx(FDc, from.X, from.Y, nullptr);
  LineTo(FDc, to.X, to.Y);
  SelectObject(FDc, old);
  DeleteObject(pen);
}

namespace {
UINT DrawFlags(unsigned flags) {
  UINT f = 0;
  if (flags & tfCenter) f |= DT_CENTER;
  if (flags & tfRight) f |= DT_RIGHT;
  if (flags & tfVCenter) f |= DT_VCENTER;
  if (flags & tfBottom) f |= DT_BOTTOM;
  if (flags & tfSingleLine) f |= DT_SINGLELINE;
  // A word longer than the line (a path, an address) is broken too, as an edit control does,
  // instead of running past the box and being cut.
  if (flags & tfWordWrap) f |= DT_WORDBREAK | DT_EDITCONTROL;
  if (!(flags & tfMnemonic)) f |= DT_NOPREFIX;
  return f;
}
} // namespace

void TGdiCanvas::Text(const TRect& box, const std::string& text, const TFont& font, TColor color,
                      unsigned flags) {
  std::wstring w = Wide(text);
  HGDIOBJ old = SelectObject(FDc, Font(font));
  if (!FOldFont) FOldFont = old;
  SetTextColor(FDc, ColorRef(color));
  SetBkMode(FDc, TRANSPARENT);
  RECT rc{box.Left, box.Top, box.Right(), box.Bottom()};
  DrawTextW(FDc, w.c_str(), static_cast<int>(w.size()), &rc, DrawFlags(flags));
}

TSize TGdiCanvas::MeasureText(const std::string& text, const TFont& font, int wrapWidth) {
  std::wstring w = Wide(text);
  HGDIOBJ old = SelectObject(FDc, Font(font));
  if (!FOldFont) FOldFont = old;
  RECT rc{0, 0, wrapWidth > 0 ? wrapWidth : 0, 0};
  UINT f =
      DT_CALCRECT | DT_NOPREFIX | (wrapWidth > 0 ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE);
  if (w.empty()) {
    // An empty text still has the height of a line.
    TEXTMETRICW tm{};
    GetTextMetricsW(FDc, &tm);
    return {0, static_cast<int>(tm.tmHeight)};
  }
  DrawTextW(FDc, w.c_str(), static_cast<int>(w.size()), &rc, f);
  return {rc.right - rc.left, rc.bottom - rc.top};
}

void TGdiCanvas::Icon(const std::string& name, const TRect& r) {
  // The icon carries images up to 256 pixels; a larger place shows the largest one centred
  // rather than a blurred enlargement. A missing resource draws nothing.
  constexpr int kLargestImage = 256;
  const int w = std::min(r.Width, kLargestImage), h = std::min(r.Height, kLargestImage);
  auto* icon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), Wide(name).c_str(), IMAGE_ICON, w, h, LR_DEFAULTCOLOR));
  if (!icon) return;
  DrawIconEx(FDc, r.Left + (r.Width - w) / 2, r.Top + (r.Height - h) / 2, icon, w, h, 0, nullptr,
             DI_NORMAL);
  DestroyIcon(icon);
}

void PaintBuffered(HWND hwnd, const std::function<void(ICanvas&)>& paint) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  if (!dc) return;
  RECT client{};
  GetClientRect(hwnd, &client);
  int w = client.right - client.left, h = client.bottom - client.top;
  HDC mem = w > 0 && h > 0 ? CreateCompatibleDC(dc) : nullptr;
  HBITMAP bmp = mem ? CreateCompatibleBitmap(dc, w, h) : nullptr;
  if (bmp) {
    HGDIOBJ old = SelectObject(mem, bmp);
    {
      TGdiCanvas canvas(mem, WindowDpi(hwnd));
      paint(canvas);
    }
    BitBlt(dc, 0, 0, w, h, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
  } else if (w > 0 && h > 0) {
    TGdiCanvas canvas(dc, WindowDpi(hwnd)); // out of memory for a buffer: paint directly
    paint(canvas);
  }
  if (bmp) DeleteObject(bmp);
  if (mem) DeleteDC(mem);
  EndPaint(hwnd, &ps);
}

int WindowDpi(HWND hwnd) {
  // GetDpiForWindow exists from Windows 10 1607; looked up at run time so older systems start.
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static auto getDpi = reinterpret_cast<TGetDpiForWindow>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  UINT dpi = getDpi && hwnd ? getDpi(hwnd) : 0;
  if (dpi == 0) {
    HDC screen = GetDC(nullptr);
    dpi = screen ? static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX)) : 96;
    if (screen) ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? static_cast<int>(dpi) : 96;
}

} // namespace hb::win
