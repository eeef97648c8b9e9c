#pragma once
// The display's native main window: a borderless popup over one monitor, the cover child window
// above the browser, the posted-message queue and the window-message timers. It implements
// IWindowHost; what the window does is decided by the core's display form through the events.
#include <windows.h>

#include <functional>
#include <memory>

#include "IWindowHost.h"
#include "WinUiQueue.h"

namespace hb::win {

struct TMainWindowEvents {
  std::function<void()> FirstShow;                // once, when the window is first shown
  std::function<void(ICanvas&)> PaintCover;       // the cover's whole area
  std::function<void(TSize)> CoverResized;        // the cover's new client size
  std::function<void(int x, int y)> CoverRightUp; // right button released on the cover
  std::function<void()> WakeUp;                   // a second start asked for the window
  std::function<void()> ClientResized;            // the browser follows the client area
  std::function<void()> Moved;                    // the window's place on the screen changed
  std::function<void()> CloseRequested;           // the close command, once
  // Monitors came or went, or the window's monitor changed its resolution or scale.
  std::function<void()> DisplayChanged;
};

class TMainWindow : public IWindowHost {
 public:
  // wakeMessage: the registered wake-up message (0: none); it is handled before anything else.
  TMainWindow(const std::string& title, UINT wakeMessage);
  ~TMainWindow() override;
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  HWND Handle() const { return FHwnd; }
  bool Valid() const { return FHwnd && FCover; }
  // The queue outlives the window: detached background jobs may still post after it is gone (they
  // are dropped then), so it is never freed.
  TWinUiQueue& Queue() { return *FQueue; }
  TMainWindowEvents Events;

  // Shows the window (FirstShow runs) and runs the message loop until the window is closed; the
  // window itself goes with this object.
  int Run();

  std::vector<TMonitor> Monitors() override;
  void PlaceWindow(const TRect& bounds) override;
  TSize ClientSize() override;
  void SetCoverVisible(bool visible) override;
  bool CoverVisible() const override;
  void InvalidateCover() override;
  TPoint CursorPos() override;
  TMonitor MonitorNearest(TPoint p) override;
  std::unique_ptr<IPopupWindow> CreatePopup(IPopupClient& client) override;
  void BringToFront() override;
  void Close() override;
  // Puts a visible cover back above the browser's window, which is created above it.
  void RaiseCover();

  static LRESULT CALLBACK MainProc(HWND h, UINT m, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK CoverProc(HWND h, UINT m, WPARAM wp, LPARAM lp);

 private:
  LRESULT HandleMain(UINT m, WPARAM wp, LPARAM lp, bool& handled);
  void FitChildren();

  HWND FHwnd = nullptr;
  HWND FCover = nullptr;
  UINT FWakeMessage = 0;
  bool FShown = false;
  bool FClosing = false;
  TWinUiQueue* FQueue = nullptr;
};

TMonitor MonitorFromHandle(HMONITOR m);

} // namespace hb::win
