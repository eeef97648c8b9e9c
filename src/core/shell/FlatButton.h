#pragma once
// The program's own button: a flat rounded face with a centred caption that changes colour under
// the mouse. The model sizes and paints itself; the shells forward mouse enter/leave and clicks
// and repaint when OnInvalidate asks. There is no pressed state and no focus mark.
#include <functional>
#include <string>

#include "ICanvas.h"

namespace hb {

constexpr TColor kFlatDisabledText = 0x9098A0;
constexpr int kFlatPadding = 36; // caption width + this
constexpr int kFlatMinWidth = 76;
constexpr int kFlatHeight = 32;
constexpr int kFlatCorner = 10;

// "Microsoft YaHei UI" 10 pt: the button's own font, whatever its parent uses.
TFont FlatButtonFont();

class TFlatButton {
 public:
  // Sized from the caption as measured on measure: caption width + 36, at least 76; 32 high
  // (96-DPI figures, scaled to the measuring canvas's DPI like the font).
  TFlatButton(std::string caption, TColor back, TColor normal, TColor hover, TColor text,
              ICanvas& measure, std::function<void()> onClick = {});

  static TSize SizeFor(const std::string& caption, ICanvas& measure);

  const std::string& Caption() const { return FCaption; }
  // Repaints with the new caption; the size stays as it was.
  void SetCaption(std::string caption);
  bool Hover() const { return FHover; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool on);
  void MouseEnter();
  void MouseLeave();
  // A click on an enabled button runs OnClick; a disabled one ignores it.
  void Click();

  TSize Size() const { return FSize; }
  void SetSize(TSize size) { FSize = size; }

  // Paints the button with its top-left corner at origin.
  void Paint(ICanvas& canvas, TPoint origin = {}) const;
  // The face colour in the current state.
  TColor FaceColor() const { return FHover && FEnabled ? FHoverColor : FNormalColor; }

  std::function<void()> OnClick;
  std::function<void()> OnInvalidate; // the shell repaints the button
  int Tag = 0;                        // free for the owner (the dialog stores the index)

 private:
  void Invalidate() {
    if (OnInvalidate) OnInvalidate();
  }

  bool FHover = false;
  TColor FBackColor;
  TColor FNormalColor;
  TColor FHoverColor;
  TColor FTextColor;
  bool FEnabled = true;
  std::string FCaption;
  TSize FSize;
};

} // namespace hb
