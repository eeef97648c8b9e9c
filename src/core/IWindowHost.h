#pragma once
// The native windows under the display window's control: monitors, placement, the cover, the
// popup menu, the pointer. Every call is on the user-interface thread.
#include <memory>
#include <string>
#include <vector>

#include "Geometry.h"

namespace hb {

class ICanvas;

struct TMonitor {
  TRect Bounds;     // the whole monitor, in screen coordinates
  TRect WorkArea;   // without the taskbar
  // Pixels per inch of the monitor in the units the host's windows are sized in: the effective
  // DPI on Windows; 96 on Linux, where GTK sizes in logical pixels and scales the drawing itself.
  int Dpi = 96;
  bool Primary = false; // the system's main monitor
};

// Virtual-key numbers the core understands (Linux maps its keys onto these).
enum TKey : int {
  vkReturn = 13,
  vkEscape = 27,
  vkSpace = 32,
  vkPrior = 33, // Page Up
  vkNext = 34,  // Page Down
  vkUp = 38,
  vkDown = 40,
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// A popup's contents and input, implemented by the core (the seat-map menu).
class IPopupClient {
public:
  virtual ~IPopupClient() = default;
  virtual void Paint(ICanvas& canvas) = 0;
  virtual void MouseMove(int x, int y) = 0;          // client coordinates
  virtual void MouseUp(TMouseButton button, int x, int y) = 0;
  virtual void KeyDown(int key) = 0;                 // every key is consumed by the popup
  // The wheel turned by notches: positive away from the user (up), as the systems count it.
  virtual void MouseWheel(int notches) { (void)notches; }
  virtual void Deactivated() = 0;                    // lost activation: click elsewhere, other window
};

// A borderless, top-most, drop-shadowed popup window owned by the main window.
class IPopupWindow {
public:
  virtual ~IPopupWindow() = default;
  virtual void SetBounds(const TRect& screenBounds) = 0;
  // Shows the window with rounded corners where the system offers them and brings it to the
  // foreground so that it receives the keyboard.
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual bool Visible() const = 0;
  virtual void Invalidate() = 0;
};

class IWindowHost {
public:
  virtual ~IWindowHost() = default;
  virtual std::vector<TMonitor> Monitors() = 0;     // in the system's enumeration order
  virtual void PlaceWindow(const TRect& bounds) = 0;  // the main window's screen bounds
  virtual TSize ClientSize() = 0;
  // The cover lies above the browser over the whole client area; showing it raises it.
  virtual void SetCoverVisible(bool visible) = 0;
  virtual bool CoverVisible() const = 0;
  virtual void InvalidateCover() = 0;
  virtual TPoint CursorPos() = 0;                    // screen coordinates
  virtual TMonitor MonitorNearest(TPoint p) = 0;
  virtual std::unique_ptr<IPopupWindow> CreatePopup(IPopupClient& client) = 0;
  virtual void BringToFront() = 0;                   // the wake-up: show, raise, ask for foreground
  virtual void Close() = 0;                          // the ordinary close of the main window
};

} // namespace hb
