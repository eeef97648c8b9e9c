#include "CairoCanvas.h"

#include <cmath>

namespace hb::lin {

std::string FontFamilies(const std::string& face) {
  return face + ",WenQuanYi Zen Hei,Noto Sans CJK SC,Droid Sans Fallback,sans-serif";
}

TCairoCanvas::TCairoCanvas(cairo_t* cr, int dpi) : FCr(cr), FDpi(dpi > 0 ? dpi : 96) {
  FLayout = pango_cairo_create_layout(FCr);
}

TCairoCanvas::~TCairoCanvas() {
  if (FLayout) g_object_unref(FLayout);
}

void TCairoCanvas::Source(TColor c) {
  cairo_set_source_rgb(FCr, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
}

void TCairoCanvas::FillRect(const TRect& r, TColor color) {
  if (r.Width <= 0 || r.Height <= 0) return;
  Source(color);
  cairo_rectangle(FCr, r.Left, r.Top, r.Width, r.Height);
  cairo_fill(FCr);
}

void TCairoCanvas::FrameRect(const TRect& r, TColor color) {
  if (r.Width <= 0 || r.Height <= 0) return;
  Source(color);
  cairo_set_line_width(FCr, 1);
  cairo_rectangle(FCr, r.Left + 0.5, r.Top + 0.5, r.Width - 1, r.Height - 1);
  cairo_stroke(FCr);
}

namespace {
// A rectangle with elliptic corners of ew x eh, the shape of GDI's RoundRect, inset by inset.
void RoundPath(cairo_t* cr, double x, double y, double w, double h, double ew, double eh) {
  double rx = std::min(ew / 2, w / 2), ry = std::min(eh / 2, h / 2);
  if (rx <= 0 || ry <= 0) {
    cairo_rectangle(cr, x, y, w, h);
    return;
  }
  auto corner = [&](double cx, double cy, double a0, double a1) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, a0, a1);
    cairo_restore(cr);
  };
  cairo_new_sub_path(cr);
  corner(x + w - rx, y + ry, -M_PI / 2, 0);
  corner(x + w - rx, y + h - ry, 0, M_PI / 2);
  corner(x + rx, y + h - ry, M_PI / 2, M_PI);
  corner(x + rx, y + ry, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}
} // namespace

void TCairoCanvas::RoundRect(const TRect& r, int ew, int eh, std::optional<TColor> fill,
                             std::optional<TColor> outline) {
  if (r.Width <= 0 || r.Height <= 0) return;
  if (fill) {
    Source(*fill);
    RoundPath(FCr, r.Left, r.Top, r.Width, r.Height, ew, eh);
    cairo_fill(FCr);
  }
  if (outline) {
    Source(*outline);
    cairo_set_line_width(FCr, 1);
    RoundPath(FCr, r.Left + 0.5, r.Top + 0.5, r.Width - 1, r.Height - 1, ew, eh);
    cairo_stroke(FCr);
  }
}

void TCairoCanvas::Ellipse(const TRect& r, std::optional<TColor> fill,
                           std::optional<TColor> outline) {
  if (r.Width <= 0 || r.Height <= 0) return;
  auto path = [&](double inset) {
    cairo_save(FCr);
    cairo_translate(FCr, r.Left + r.Width / 2.0, r.Top + r.Height / 2.0);
    cairo_scale(FCr, r.Width / 2.0 - inset, r.Height / 2.0 - inset);
    cairo_new_path(FCr);
    cairo_arc(FCr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(FCr);
  };
  if (fill) {
    Source(*fill);
    path(0);
    cairo_fill(FCr);
  }
  if (outline) {
    Source(*outline);
    cairo_set_line_width(FCr, 1);
    path(0.5);
    cairo_stroke(FCr);
  }
}

void TCairoCanvas::Line(TPoint from, TPoint to, TColor color) {
  Source(color);
  cairo_set_line_width(FCr, 1);
  cairo_move_to(FCr, from.X + 0.5, from.Y + 0.5);
  cairo_line_to(FCr, to.X + 0.5, to.Y + 0.5);
  cairo_stroke(FCr);
}

PangoLayout* TCairoCanvas::Layout(const std::string& text, const TFont& font, unsigned flags,
                                  int wrapWidth) {
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, FontFamilies(font.Face).c_str());
  pango_font_description_set_weight(desc, font.Bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  // Points to pixels at the surface's DPI, as the system's text drawing does.
  double px = font.PointSize * FDpi / 72.0;
  pango_font_description_set_absolute_size(desc, px * PANGO_SCALE);
  pango_layout_set_font_description(FLayout, desc);
  pango_font_description_free(desc);

  std::string shown = text;
  PangoAttrList* attrs = pango_attr_list_new();
  if (flags & tfMnemonic) {
    // "&x" underlines x; "&&" is a literal ampersand.
    shown.clear();
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '&' && i + 1 < text.size()) {
        ++i;
        if (text[i] != '&') {
          auto* u = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
          u->start_index = static_cast<guint>(shown.size());
          size_t len = 1;
          unsigned char c = static_cast<unsigned char>(text[i]);
          if (c >= 0xF0)
            len = 4;
          else if (c >= 0xE0)
            len = 3;
          else if (c >= 0xC0)
            len = 2;
          u->end_index = static_cast<guint>(shown.size() + len);
          pango_attr_list_insert(attrs, u);
        }
      }
      shown.push_back(text[i]);
    }
  }
  pango_layout_set_text(FLayout, shown.c_str(), static_cast<int>(shown.size()));
  pango_layout_set_attributes(FLayout, attrs);
  pango_attr_list_unref(attrs);
  pango_layout_set_width(FLayout, wrapWidth > 0 ? wrapWidth * PANGO_SCALE : -1);
  pango_layout_set_wrap(FLayout, PANGO_WRAP_WORD_CHAR);
  pango_layout_set_alignment(FLayout, (flags & tfCenter)  ? PANGO_ALIGN_CENTER
                                      : (flags & tfRight) ? PANGO_ALIGN_RIGHT
                                                          : PANGO_ALIGN_LEFT);
  return FLayout;
}

void TCairoCanvas::Text(const TRect& box, const std::string& text, const TFont& font, TColor color,
                        unsigned flags) {
  if (text.empty() || box.Width <= 0 || box.Height <= 0) return;
  bool wrap = (flags & tfWordWrap) && !(flags & tfSingleLine);
  PangoLayout* layout = Layout(text, font, flags, wrap ? box.Width : 0);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  double x = box.Left, y = box.Top;
  if (!wrap) {
    if (flags & tfCenter)
      x += (box.Width - w) / 2.0;
    else if (flags & tfRight)
      x += box.Width - w;
  }
  if (flags & tfVCenter)
    y += (box.Height - h) / 2.0;
  else if (flags & tfBottom)
    y += box.Height - h;
  cairo_save(FCr);
  cairo_rectangle(FCr, box.Left, box.Top, box.Width, box.Height);
  cairo_clip(FCr);
  Source(color);
  cairo_move_to(FCr, std::round(x), std::round(y));
  pango_cairo_show_layout(FCr, layout);
  cairo_restore(FCr);
}

TSize TCairoCanvas::MeasureText(const std::string& text, const TFont& font, int wrapWidth) {
  PangoLayout* layout = Layout(text, font, 0, wrapWidth);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  return {w, h};
}

void TCairoCanvas::Icon(const std::string& name, const TRect& r) {
  if (r.Width <= 0 || r.Height <= 0) return;
  double u = r.Width / 32.0;
  if (name == "MAINICON") {
    // The seat map: a blue tile holding a three-by-three grid of seats.
    RoundRect(r, static_cast<int>(12 * u), static_cast<int>(12 * u), 0x2563EB, std::nullopt);
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 3; ++col) {
        TRect seat{r.Left + static_cast<int>((6 + col * 7.5) * u),
                   r.Top + static_cast<int>((6 + row * 7.5) * u), static_cast<int>(5 * u),
                   static_cast<int>(5 * u)};
        RoundRect(seat, static_cast<int>(2 * u), static_cast<int>(2 * u),
                  row == 1 && col == 1 ? 0x34D399 : 0xDBEAFE, std::nullopt);
      }
  }
  // Other names have no picture in this program: nothing is drawn, as with a missing resource.
}

TMeasureSurface::TMeasureSurface() {
  Surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  Cr = cairo_create(Surface);
}

TMeasureSurface::~TMeasureSurface() {
  cairo_destroy(Cr);
  cairo_surface_destroy(Surface);
}

} // namespace hb::lin
