#pragma once
// The error dialog's portable half: every rectangle computed from the texts and the captions,
// the painter, and the rules for keys and clicks. A shell makes one borderless, rounded,
// always-on-top window of Layout().Client size (region: Layout().Region with Layout().Corner
// corners),
// forwards paint, mouse and keys here, and ends its modal loop when Closed() turns true.
#include <functional>
#include <string>
#include <vector>

#include "ICanvas.h"
#include "shell/FlatButton.h"

namespace hb {

// Shows a dialog modally and returns the index of the clicked button, or -1 (Escape, the
// system's close command). Title, text, captions, primary index, danger index (-1: none).
using TShowShellDialogProc =
    std::function<int(const std::string& title, const std::string& text,
                      const std::vector<std::string>& buttons, int primaryIndex, int dangerIndex)>;

constexpr int kDialogClientWidth = 460;
constexpr int kDialogMessageWidth = 356;
constexpr int kDialogMinButtonRow = 112;
constexpr int kDialogButtonHeight = 38;
constexpr int kDialogMinButtonWidth = 96;
constexpr int kDialogButtonGap = 10;
constexpr int kDialogCorner = 24;
constexpr int kKeyEscape = 27;
constexpr TColor kDialogBackground = 0xFFFFFF;
constexpr TColor kDialogOutline = 0xE5E7EB;
constexpr TColor kDialogTitleColor = 0x1F2937;
constexpr TColor kDialogMessageColor = 0x4B5563;
constexpr const char* kDialogIconName = "STATEOK";

TFont DialogTitleFont();   // "Microsoft YaHei UI" 13 pt bold
TFont DialogMessageFont(); // "Microsoft YaHei UI" 10 pt

struct TDialogButtonColors {
  TColor Normal;
  TColor Hover;
  TColor Text;
};
// Danger first, then primary, else the quiet grey button.
TDialogButtonColors DialogButtonColors(int index, int primaryIndex, int dangerIndex);

// Sizes at 96 DPI in the comments; the layout scales them all to the measuring canvas's DPI.
struct TShellDialogLayout {
  TSize Client;               // 460 x (button row + 62)
  int Corner = kDialogCorner; // the corner ellipse of the region and the outline
  TRect Region;               // the window region: (0, 0) to (width + 1, height + 1)
  TRect Icon;                 // 28, 28, 32 x 32
  TRect Title;                // 76, 30, sized to the one-line title
  TRect Message;              // 76, 64, wrapped at 356
  int ButtonRowY = 0;
  std::vector<TRect> Buttons; // in caption order (index 0 leftmost)
};

TShellDialogLayout LayoutShellDialog(const std::string& title, const std::string& text,
                                     const std::vector<std::string>& buttons, ICanvas& measure);

class TShellDialog {
 public:
  TShellDialog(std::string title, std::string text, const std::vector<std::string>& buttons,
               int primaryIndex, int dangerIndex, ICanvas& measure);
  // The buttons call back into the dialog, so it stays where it was built.
  TShellDialog(const TShellDialog&) = delete;
  TShellDialog& operator=(const TShellDialog&) = delete;

  const TShellDialogLayout& Layout() const { return FLayout; }
  const std::string& Title() const { return FTitle; }
  const std::string& Text() const { return FText; }
  std::vector<TFlatButton>& Buttons() { return FButtons; }
  const std::vector<TFlatButton>& Buttons() const { return FButtons; }

  // The index of the button that closed the dialog; -1 until one is clicked.
  int Result() const { return FResult; }
  // The modal loop ends once this is true.
  bool Closed() const { return FClosed; }

  void Paint(ICanvas& canvas) const;

  // Mouse in client coordinates. A click is a press and a release on the same enabled button.
  void MouseMove(int x, int y);
  void MouseLeave();
  void MouseDown(int x, int y);
  void MouseUp(int x, int y);
  // True when the key was handled: only Escape, which closes with -1.
  bool KeyDown(int virtualKey);
  // The system's close command (Alt+F4): closes leaving the result at -1.
  void Cancel();

  std::function<void()> OnInvalidate; // the shell repaints the window
  std::function<void()> OnClose;      // the shell ends its modal loop

 private:
  int ButtonAt(int x, int y) const;
  void Close();

  std::string FTitle;
  std::string FText;
  TShellDialogLayout FLayout;
  std::vector<TFlatButton> FButtons;
  int FResult = -1;
  bool FClosed = false;
  int FHot = -1;
  int FPressed = -1;
};

} // namespace hb
