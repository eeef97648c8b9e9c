#include "RecordingCanvas.h"

#include <algorithm>

namespace hb::test {

namespace {

// One character of UTF-8 text with its width in tenths of a pixel.
struct TGlyph {
  std::string Bytes;
  int Tenths = 0;
};

std::vector<TGlyph> Glyphs(const std::string& text, int px) {
  std::vector<TGlyph> out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = 1;
    if (c >= 0xF0)
      len = 4;
    else if (c >= 0xE0)
      len = 3;
    else if (c >= 0xC0)
      len = 2;
    len = std::min(len, text.size() - i);
    out.push_back({text.substr(i, len), (c < 0x80 ? 6 : 10) * px});
    i += len;
  }
  return out;
}

int ToPixels(int tenths) {
  return (tenths + 5) / 10;
}

// Greedy wrapping: break after the last blank that fits, else between characters.
std::vector<int> WrapLineWidths(const std::vector<TGlyph>& glyphs, int wrapTenths) {
  std::vector<int> widths;
  size_t start = 0;
  while (start < glyphs.size()) {
    int sum = 0;
    size_t end = start;
    size_t lastBlank = std::string::npos;
    while (end < glyphs.size() && (end == start || sum + glyphs[end].Tenths <= wrapTenths)) {
      if (glyphs[end].Bytes == " ") lastBlank = end;
      sum += glyphs[end].Tenths;
      ++end;
    }
    if (end < glyphs.size() && lastBlank != std::string::npos && lastBlank > start) {
      end = lastBlank; // the blank itself ends the line and is not drawn
      sum = 0;
      for (size_t i = start; i < end; ++i) sum += glyphs[i].Tenths;
      widths.push_back(sum);
      start = lastBlank + 1;
      continue;
    }
    widths.push_back(sum);
    start = end;
  }
  if (widths.empty()) widths.push_back(0);
  return widths;
}

} // namespace

int TRecordingCanvas::PixelSize(const TFont& font) const {
  return (font.PointSize * FDpi + 36) / 72;
}

int TRecordingCanvas::LineHeight(const TFont& font) const {
  return (PixelSize(font) * 13 + 5) / 10;
}

int TRecordingCanvas::LineWidth(const std::string& text, const TFont& font) const {
  int tenths = 0;
  for (const TGlyph& g : Glyphs(text, PixelSize(font))) tenths += g.Tenths;
  return ToPixels(tenths);
}

void TRecordingCanvas::FillRect(const TRect& r, TColor color) {
  TCanvasRecord rec;
  rec.Op = TCanvasOp::coFillRect;
  rec.Rect = r;
  rec.Fill = color;
  Records.push_back(rec);
}

void TRecordingCanvas::FrameRect(const TRect& r, TColor color) {
  TCanvasRecord rec;
  rec.Op = TCanvasOp::coFrameRect;
  rec.Rect = r;
  rec.Outline = color;
  Records.push_back(rec);
}

void TRecordingCanvas::RoundRect(const TRect& r, int ew, int eh, std::optional<TColor> fill,
                                 std::optional<TColor> outline) {
  TCanvasRecord rec;
  rec.Op = TCanvasOp::coRoundRect;
  rec.Rect = r;
  rec.EllipseW = ew;
  rec.EllipseH = eh;
  rec.Fill = fill;
  rec.Outline = outline;
  Records.push_back(rec);
}

void TRecordingCanvas::Ellipse(const TRect& r, std::optional<TColor> fill,
                               std::optional<TColor> outline) {
  TCanvasRecord rec;
  rec.Op = TCanvasOp::coEllipse;
  rec.Rect = r;
  rec.Fill = fill;
  rec.Outline = outline;
  Records.push_back(rec);
}

void TRecordingCanvas::Line(TPoint from, TPoint to, TColor color) {
  TCanvasRecord rec;
  rec.Op = TCanvasOp::coLine;
  rec.From = from;
  rec.To = to;
  rec.Outline = color;
  Records.push_back(rec);
}

void TRecordingCanvas::Text(const TRect& box, const std::string& text, const TFont& font,
                            TColor color, unsigned flags) {
  TCanvasRecord rec;
  rec.Op = TCanvasOp::coText;
  rec.Rect = box;
  rec.Text = text;
  rec.Font = font;
  rec.Color = color;
  rec.Flags = flags;
  Records.push_back(rec);
}

TSize TRecordingCanvas::MeasureText(const std::string& text, const TFont& font, int wrapWidth) {
  int px = PixelSize(font);
  int lines = 0;
  int widest = 0;
  // Paragraphs split at line breaks (CR LF, LF or CR).
  size_t pos = 0;
  for (;;) {
    size_t brk = text.find_first_of("\r\n", pos);
    std::string para = text.substr(pos, brk == std::string::npos ? std::string::npos : brk - pos);
    std::vector<TGlyph> glyphs = Glyphs(para, px);
    std::vector<int> widths;
    if (wrapWidth > 0) {
      widths = WrapLineWidths(glyphs, wrapWidth * 10);
    } else {
      int sum = 0;
      for (const TGlyph& g : glyphs) sum += g.Tenths;
      widths.push_back(sum);
    }
    for (int w : widths) widest = std::max(widest, ToPixels(w));
    lines += static_cast<int>(widths.size());
    if (brk == std::string::npos) break;
    pos = brk + 1;
    if (text[brk] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  return {widest, lines * LineHeight(font)};
}

void TRecordingCanvas::Icon(const std::string& name, const TRect& r) {
  TCanvasRecord rec;
  rec.Op = TCanvasOp::coIcon;
  rec.Rect = r;
  rec.Text = name;
  Records.push_back(rec);
}

std::vector<TCanvasRecord> TRecordingCanvas::OfKind(TCanvasOp op) const {
  std::vector<TCanvasRecord> out;
  for (const TCanvasRecord& r : Records)
    if (r.Op == op) out.push_back(r);
  return out;
}

std::vector<TCanvasRecord> TRecordingCanvas::TextsEqual(const std::string& text) const {
  std::vector<TCanvasRecord> out;
  for (const TCanvasRecord& r : Records)
    if (r.Op == TCanvasOp::coText && r.Text == text) out.push_back(r);
  return out;
}

} // namespace hb::test
