#include "shell/FlatButton.h"

#include <algorithm>

namespace hb {

TFont FlatButtonFont() {
  return TFont{"Microsoft YaHei UI", 10, false};
}

TFlatButton::TFlatButton(std::string caption, TColor back, TColor normal, TColor hover, TColor text,
                         ICanvas& measure, std::function<void()> onClick)
    : OnClick(std::move(onClick)), FBackColor(back), FNormalColor(normal), FHoverColor(hover),
      FTextColor(text), FCaption(std::move(caption)) {
  FSize = SizeFor(FCaption, measure);
}

TSize TFlatButton::SizeFor(const std::string& caption, ICanvas& measure) {
  const int dpi = measure.Dpi();
  int width = measure.MeasureText(caption, FlatButtonFont()).Width + ScaleToDpi(kFlatPadding, dpi);
  return {std::max(width, ScaleToDpi(kFlatMinWidth, dpi)), ScaleToDpi(kFlatHeight, dpi)};
}

void TFlatButton::SetCaption(std::string caption) {
  FCaption = std::move(caption);
  Invalidate();
}

void TFlatButton::SetEnabled(bool on) {
  FEnabled = on;
  Invalidate();
}

void TFlatButton::MouseEnter() {
  FHover = true;
  Invalidate();
}

void TFlatButton::MouseLeave() {
  FHover = false;
  Invalidate();
}

void TFlatButton::Click() {
  if (FEnabled && OnClick) OnClick();
}

void TFlatButton::Paint(ICanvas& canvas, TPoint origin) const {
  TRect client{origin.X, origin.Y, FSize.Width, FSize.Height};
  canvas.FillRect(client, FBackColor);
  TColor face = FaceColor();
  const int corner = ScaleToDpi(kFlatCorner, canvas.Dpi());
  canvas.RoundRect(client, corner, corner, face, face);
  canvas.Text(client, FCaption, FlatButtonFont(), FEnabled ? FTextColor : kFlatDisabledText,
              tfCenter | tfVCenter | tfSingleLine | tfMnemonic);
}

} // namespace hb
