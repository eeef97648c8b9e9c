#pragma once
// The native windows of the Linux program, behind IWindowHost: an undecorated main window over
// the display monitor (the backdrop while the browser is away), the cover as its own window kept
// above the browser's, and the seat-map menu popup. The browser window itself belongs to
// Chromium; our windows are raised above it whenever they show and whenever it reappears.
#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "ICanvas.h"
#include "IWindowHost.h"

namespace hb::lin {

// The display's monitors, as the window host reports them; needs only the display open.
std::vector<TMonitor> GdkMonitors();

class TGtkHost : public IWindowHost {
 public:
  explicit TGtkHost(const std::string& title);
  ~TGtkHost() override;
  TGtkHost(const TGtkHost&) = delete;
  TGtkHost& operator=(const TGtkHost&) = delete;

  // IWindowHost
  std::vector<TMonitor> Monitors() override;
  void PlaceWindow(const TRect& bounds) override;
  TSize ClientSize() override;
  void SetCoverVisible(bool visible) override;
  bool CoverVisible() const override { return FCoverVisible; }
  void InvalidateCover() override;
  TPoint CursorPos() override;
  TMonitor MonitorNearest(TPoint p) override;
  std::unique_ptr<IPopupWindow> CreatePopup(IPopupClient& client) override;
  void BringToFront() override;
  void Close() override;

  // Shows the main window (and the cover when it is meant to be visible).
  void Show();
  TRect Bounds() const { return FBounds; }
  // Raises our windows that must lie above the browser: the cover when shown, and open popups.
  void RaiseAbove();
  // The DPI of the display monitor, for painting.
  int Dpi() const;

  struct TEvents {
    std::function<void(ICanvas&)> PaintCover;
    std::function<void(TSize)> CoverResized;
    std::function<void()> CoverRightUp;
    std::function<void()> CloseRequested; // Alt+F4 / the window manager's close
    std::function<void()> BringBrowserToFront;
    std::function<void()> Closed;         // Close() was asked for: the shell ends its loop
    std::function<void()> DisplayChanged; // monitors came, went or changed size or scale
  } Events;

 private:
  static gboolean CoverDraw(GtkWidget*, cairo_t* cr, gpointer self);
  static gboolean CoverButton(GtkWidget*, GdkEventButton* e, gpointer self);
  static void CoverAllocate(GtkWidget*, GdkRectangle* a, gpointer self);
  static gboolean MainDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean KeepOnTop(gpointer self);
  static void MonitorsChanged(TGtkHost* self);

  GtkWidget* FMain = nullptr;
  GtkWidget* FCover = nullptr;
  TRect FBounds{0, 0, 800, 600};
  bool FCoverVisible = false;
  bool FShown = false;
  unsigned FKeepOnTop = 0;
  unsigned FDisplayIdle = 0;
  TSize FCoverSize;
};

// A window of ours that must lie above the cover while it is shown (the error dialog): the
// cover's keep-on-top raising raises it after the cover.
void SetKeptAboveCover(GtkWidget* w, bool on);

// Maps a GDK key value onto the virtual-key numbers the core understands (0 for other keys).
int VirtualKeyOf(unsigned keyval);

} // namespace hb::lin
