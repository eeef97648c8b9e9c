#include "GtkHost.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <set>

#include "CairoCanvas.h"
#include "UiGuard.h"

namespace hb::lin {
namespace {

constexpr TColor kBackdrop = 0x070D18;

TRect FromGdk(const GdkRectangle& r) {
  return {r.x, r.y, r.width, r.height};
}

TMonitor MonitorOf(GdkMonitor* m) {
  TMonitor out;
  if (!m) return out;
  GdkRectangle g, w;
  gdk_monitor_get_geometry(m, &g);
  gdk_monitor_get_workarea(m, &w);
  out.Bounds = FromGdk(g);
  out.WorkArea = FromGdk(w);
  // GDK gives geometry in logical pixels and cairo draws into them scaled by the monitor's
  // factor already: our layout stays at 96 whatever GDK_SCALE says, or it would grow twice.
  out.Dpi = kBaseDpi;
  out.Primary = gdk_monitor_is_primary(m) != FALSE;
  return out;
}

void PaintBackdrop(cairo_t* cr) {
  cairo_set_source_rgb(cr, RedOf(kBackdrop) / 255.0, GreenOf(kBackdrop) / 255.0,
                       BlueOf(kBackdrop) / 255.0);
  cairo_paint(cr);
}

// Raises a window to the top of the stack. Without a window manager GDK's raise is XRaiseWindow;
// with one it is a request the manager honours for override-redirect windows at once.
void Raise(GtkWidget* w) {
  if (!w || !gtk_widget_get_visible(w)) return;
  GdkWindow* g = gtk_widget_get_window(w);
  if (g) gdk_window_raise(g);
}

// The popups that are open, so RaiseAbove can keep them over the cover.
std::set<GtkWidget*>& OpenPopups() {
  static std::set<GtkWidget*> s;
  return s;
}

class TGtkPopup : public IPopupWindow {
 public:
  TGtkPopup(GtkWidget* owner, IPopupClient& client) : FClient(client) {
    FWindow = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_set_transient_for(GTK_WINDOW(FWindow), GTK_WINDOW(owner));
    gtk_window_set_type_hint(GTK_WINDOW(FWindow), GDK_WINDOW_TYPE_HINT_POPUP_MENU);
    gtk_widget_set_app_paintable(FWindow, TRUE);
    gtk_widget_add_events(FWindow, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                       GDK_BUTTON_RELEASE_MASK | GDK_KEY_PRESS_MASK |
                                       GDK_SCROLL_MASK);
    g_signal_connect(FWindow, "scroll-event", G_CALLBACK(&TGtkPopup::Scroll), this);
    g_signal_connect(FWindow, "draw", G_CALLBACK(&TGtkPopup::Draw), this);
    g_signal_connect(FWindow, "motion-notify-event", G_CALLBACK(&TGtkPopup::Motion), this);
    g_signal_connect(FWindow, "button-press-event", G_CALLBACK(&TGtkPopup::Press), this);
    g_signal_connect(FWindow, "button-release-event", G_CALLBACK(&TGtkPopup::Release), this);
    g_signal_connect(FWindow, "key-press-event", G_CALLBACK(&TGtkPopup::Key), this);
    g_signal_connect(FWindow, "grab-broken-event", G_CALLBACK(&TGtkPopup::GrabBroken), this);
  }
  ~TGtkPopup() override {
    Ungrab();
    OpenPopups().erase(FWindow);
    gtk_widget_destroy(FWindow);
  }
  void SetBounds(const TRect& b) override {
    FBounds = b;
    gtk_window_move(GTK_WINDOW(FWindow), b.Left, b.Top);
    gtk_window_resize(GTK_WINDOW(FWindow), std::max(1, b.Width), std::max(1, b.Height));
    gtk_widget_set_size_request(FWindow, std::max(1, b.Width), std::max(1, b.Height));
  }
  void Show() override {
    gtk_widget_show(FWindow);
    OpenPopups().insert(FWindow);
    Raise(FWindow);
    gtk_widget_queue_draw(FWindow);
    Grab();
  }
  void Hide() override {
    Ungrab();
    OpenPopups().erase(FWindow);
    gtk_widget_hide(FWindow);
  }
  bool Visible() const override { return gtk_widget_get_visible(FWindow); }
  void Invalidate() override { gtk_widget_queue_draw(FWindow); }

 private:
  // Keyboard and pointer go to the menu while it is open; a click outside it arrives here too
  // (owner events), which is how a click elsewhere closes it.
  void Grab() {
    GdkWindow* g = gtk_widget_get_window(FWindow);
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    if (!g || !seat) return;
    FGrabbed = gdk_seat_grab(seat, g, GDK_SEAT_CAPABILITY_ALL, TRUE, nullptr, nullptr, nullptr,
                             nullptr) == GDK_GRAB_SUCCESS;
    if (!FGrabbed) // another program holds the pointer: the keyboard alone still serves the menu
      FGrabbed = gdk_seat_grab(seat, g, GDK_SEAT_CAPABILITY_KEYBOARD, TRUE, nullptr, nullptr,
                               nullptr, nullptr) == GDK_GRAB_SUCCESS;
  }
  void Ungrab() {
    if (!FGrabbed) return;
    FGrabbed = false;
    gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
  }
  static gboolean Draw(GtkWidget* w, cairo_t* cr, gpointer p) {
    auto* self = static_cast<TGtkPopup*>(p);
    Guarded([&] {
      (void)w;
      TCairoCanvas canvas(cr, 96); // logical pixels: the scale factor is cairo's already
      self->FClient.Paint(canvas);
    });
    return TRUE;
  }
  static gboolean Motion(GtkWidget*, GdkEventMotion* e, gpointer p) {
    auto* self = static_cast<TGtkPopup*>(p);
    Guarded([&] { self->FClient.MouseMove(static_cast<int>(e->x), static_cast<int>(e->y)); });
    return TRUE;
  }
  bool Outside(GdkEventButton* e) const {
    // With owner events, a press on another window of ours or outside any comes with root
    // coordinates that lie outside the menu.
    return !FBounds.Contains(static_cast<int>(e->x_root), static_cast<int>(e->y_root));
  }
  static gboolean Press(GtkWidget*, GdkEventButton* e, gpointer p) {
    auto* self = static_cast<TGtkPopup*>(p);
    if (self->Outside(e)) Guarded([&] { self->FClient.Deactivated(); });
    return TRUE;
  }
  static gboolean Release(GtkWidget*, GdkEventButton* e, gpointer p) {
    auto* self = static_cast<TGtkPopup*>(p);
    if (self->Outside(e)) return TRUE;
    TMouseButton b = e->button == 3   ? TMouseButton::mbRight
                     : e->button == 2 ? TMouseButton::mbMiddle
                                      : TMouseButton::mbLeft;
    int x = static_cast<int>(e->x_root) - self->FBounds.Left;
    int y = static_cast<int>(e->y_root) - self->FBounds.Top;
    Guarded([&] { self->FClient.MouseUp(b, x, y); });
    return TRUE;
  }
  static gboolean Key(GtkWidget*, GdkEventKey* e, gpointer p) {
    auto* self = static_cast<TGtkPopup*>(p);
    int vk = VirtualKeyOf(e->keyval);
    Guarded(
        [&] { self->FClient.KeyDown(vk ? vk : static_cast<int>(gdk_keyval_to_upper(e->keyval))); });
    return TRUE;
  }
  static gboolean Scroll(GtkWidget*, GdkEventScroll* e, gpointer p) {
    auto* self = static_cast<TGtkPopup*>(p);
    int notches = e->direction == GDK_SCROLL_UP ? 1 : e->direction == GDK_SCROLL_DOWN ? -1 : 0;
    double dx = 0, dy = 0;
    if (e->direction == GDK_SCROLL_SMOOTH &&
        gdk_event_get_scroll_deltas(reinterpret_cast<GdkEvent*>(e), &dx, &dy))
      notches = dy < 0 ? 1 : dy > 0 ? -1 : 0;
    if (notches != 0) Guarded([&] { self->FClient.MouseWheel(notches); });
    return TRUE;
  }
  static gboolean GrabBroken(GtkWidget*, GdkEvent*, gpointer p) {
    auto* self = static_cast<TGtkPopup*>(p);
    if (!self->FGrabbed) return FALSE;
    self->FGrabbed = false; // another window took the keyboard: the menu has lost activation
    Guarded([&] { self->FClient.Deactivated(); });
    return FALSE;
  }

  IPopupClient& FClient;
  GtkWidget* FWindow;
  TRect FBounds;
  bool FGrabbed = false;
};

} // namespace

void SetKeptAboveCover(GtkWidget* w, bool on) {
  if (on) {
    OpenPopups().insert(w);
    Raise(w);
  } else {
    OpenPopups().erase(w);
  }
}

int VirtualKeyOf(unsigned keyval) {
  switch (keyval) {
  case GDK_KEY_Return:
  case GDK_KEY_KP_Enter:
  case GDK_KEY_ISO_Enter:
    return vkReturn;
  case GDK_KEY_Escape:
    return vkEscape;
  case GDK_KEY_space:
  case GDK_KEY_KP_Space:
    return vkSpace;
  case GDK_KEY_Up:
  case GDK_KEY_KP_Up:
    return vkUp;
  case GDK_KEY_Down:
  case GDK_KEY_KP_Down:
    return vkDown;
  case GDK_KEY_Page_Up:
  case GDK_KEY_KP_Page_Up:
    return vkPrior;
  case GDK_KEY_Page_Down:
  case GDK_KEY_KP_Page_Down:
    return vkNext;
  default:
    return 0;
  }
}

TGtkHost::TGtkHost(const std::string& title) {
  FMain = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(FMain), title.c_str());
  gtk_window_set_decorated(GTK_WINDOW(FMain), FALSE);
  gtk_widget_set_app_paintable(FMain, TRUE);
  g_signal_connect(FMain, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer) -> gboolean {
                     PaintBackdrop(cr);
                     return TRUE;
                   }),
                   nullptr);
  g_signal_connect(FMain, "delete-event", G_CALLBACK(&TGtkHost::MainDelete), this);

  // The cover is a window of its own, not a child of the main window: the browser is another
  // program's top-level window, and only a top-level window can lie above it.
  FCover = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_window_set_transient_for(GTK_WINDOW(FCover), GTK_WINDOW(FMain));
  gtk_window_set_keep_above(GTK_WINDOW(FCover), TRUE);
  gtk_widget_set_app_paintable(FCover, TRUE);
  gtk_widget_add_events(FCover, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
  g_signal_connect(FCover, "draw", G_CALLBACK(&TGtkHost::CoverDraw), this);
  g_signal_connect(FCover, "button-release-event", G_CALLBACK(&TGtkHost::CoverButton), this);
  g_signal_connect(FCover, "size-allocate", G_CALLBACK(&TGtkHost::CoverAllocate), this);

  // Monitors that come, go or change their size or scale: the form places the window again.
  // The signals differ in their arguments; swapped, each passes the host first and the rest is
  // not read.
  auto changed = G_CALLBACK(&TGtkHost::MonitorsChanged);
  if (GdkDisplay* d = gdk_display_get_default()) {
    g_signal_connect_swapped(d, "monitor-added", changed, this);
    g_signal_connect_swapped(d, "monitor-removed", changed, this);
    if (GdkScreen* screen = gdk_display_get_default_screen(d)) {
      g_signal_connect_swapped(screen, "monitors-changed", changed, this);
      g_signal_connect_swapped(screen, "size-changed", changed, this);
    }
  }
  g_signal_connect_swapped(FMain, "notify::scale-factor", changed, this);
}

void TGtkHost::MonitorsChanged(TGtkHost* self) {
  // One change raises several of these signals: they are answered once, after they are all in.
  if (self->FDisplayIdle) return;
  self->FDisplayIdle = g_idle_add(
      +[](gpointer p) -> gboolean {
        auto* host = static_cast<TGtkHost*>(p);
        host->FDisplayIdle = 0;
        if (host->Events.DisplayChanged) Guarded([&] { host->Events.DisplayChanged(); });
        return G_SOURCE_REMOVE;
      },
      self);
}

TGtkHost::~TGtkHost() {
  if (FKeepOnTop) g_source_remove(FKeepOnTop);
  if (FDisplayIdle) g_source_remove(FDisplayIdle);
  if (GdkDisplay* d = gdk_display_get_default()) {
    g_signal_handlers_disconnect_by_data(d, this);
    if (GdkScreen* screen = gdk_display_get_default_screen(d))
      g_signal_handlers_disconnect_by_data(screen, this);
  }
  if (FCover) gtk_widget_destroy(FCover);
  if (FMain) gtk_widget_destroy(FMain);
}

std::vector<TMonitor> TGtkHost::Monitors() {
  return GdkMonitors();
}

std::vector<TMonitor> GdkMonitors() {
  std::vector<TMonitor> out;
  GdkDisplay* d = gdk_display_get_default();
  int n = d ? gdk_display_get_n_monitors(d) : 0;
  for (int i = 0; i < n; ++i) out.push_back(MonitorOf(gdk_display_get_monitor(d, i)));
  return out;
}

void TGtkHost::PlaceWindow(const TRect& b) {
  FBounds = b;
  for (GtkWidget* w : {FMain, FCover}) {
    gtk_window_move(GTK_WINDOW(w), b.Left, b.Top);
    gtk_window_set_default_size(GTK_WINDOW(w), b.Width, b.Height);
    gtk_widget_set_size_request(w, b.Width, b.Height);
    gtk_window_resize(GTK_WINDOW(w), b.Width, b.Height);
  }
  // The form lays the cover out for its size at once; the allocation follows later.
  if (Events.CoverResized) Events.CoverResized({b.Width, b.Height});
}

TSize TGtkHost::ClientSize() {
  return {FBounds.Width, FBounds.Height};
}

void TGtkHost::Show() {
  FShown = true;
  gtk_widget_show(FMain);
  if (FCoverVisible) SetCoverVisible(true);
}

void TGtkHost::SetCoverVisible(bool visible) {
  FCoverVisible = visible;
  if (!FShown) return;
  if (visible) {
    gtk_widget_show(FCover);
    Raise(FCover);
    gtk_widget_queue_draw(FCover);
    // A window manager may lift the browser above us when it takes focus, and without one a
    // browser window mapped later lies on top; while the cover matters it is raised again.
    if (!FKeepOnTop) FKeepOnTop = g_timeout_add(1000, &TGtkHost::KeepOnTop, this);
  } else {
    gtk_widget_hide(FCover);
    if (FKeepOnTop) g_source_remove(FKeepOnTop);
    FKeepOnTop = 0;
  }
}

gboolean TGtkHost::KeepOnTop(gpointer p) {
  static_cast<TGtkHost*>(p)->RaiseAbove();
  return G_SOURCE_CONTINUE;
}

void TGtkHost::RaiseAbove() {
  if (FCoverVisible) Raise(FCover);
  for (GtkWidget* w : OpenPopups()) Raise(w);
}

void TGtkHost::InvalidateCover() {
  if (FCover) gtk_widget_queue_draw(FCover);
}

TPoint TGtkHost::CursorPos() {
  GdkDisplay* d = gdk_display_get_default();
  GdkSeat* seat = d ? gdk_display_get_default_seat(d) : nullptr;
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  int x = 0, y = 0;
  if (pointer) gdk_device_get_position(pointer, nullptr, &x, &y);
  return {x, y};
}

TMonitor TGtkHost::MonitorNearest(TPoint p) {
  GdkDisplay* d = gdk_display_get_default();
  return MonitorOf(d ? gdk_display_get_monitor_at_point(d, p.X, p.Y) : nullptr);
}

std::unique_ptr<IPopupWindow> TGtkHost::CreatePopup(IPopupClient& client) {
  return std::make_unique<TGtkPopup>(FMain, client);
}

void TGtkHost::BringToFront() {
  gtk_widget_show(FMain);
  gtk_window_present(GTK_WINDOW(FMain));
  if (Events.BringBrowserToFront) Events.BringBrowserToFront();
  RaiseAbove();
}

void TGtkHost::Close() {
  if (Events.Closed) Events.Closed();
}

int TGtkHost::Dpi() const {
  // Cairo already draws the logical pixels at the monitor's scale (see MonitorOf).
  return kBaseDpi;
}

gboolean TGtkHost::CoverDraw(GtkWidget*, cairo_t* cr, gpointer p) {
  auto* self = static_cast<TGtkHost*>(p);
  PaintBackdrop(cr);
  Guarded([&] {
    TCairoCanvas canvas(cr, self->Dpi());
    if (self->Events.PaintCover) self->Events.PaintCover(canvas);
  });
  return TRUE;
}

gboolean TGtkHost::CoverButton(GtkWidget*, GdkEventButton* e, gpointer p) {
  auto* self = static_cast<TGtkHost*>(p);
  if (e->button == 3 && self->Events.CoverRightUp) Guarded([&] { self->Events.CoverRightUp(); });
  return TRUE;
}

void TGtkHost::CoverAllocate(GtkWidget*, GdkRectangle* a, gpointer p) {
  auto* self = static_cast<TGtkHost*>(p);
  TSize size{a->width, a->height};
  if (size == self->FCoverSize) return;
  self->FCoverSize = size;
  if (self->Events.CoverResized) Guarded([&] { self->Events.CoverResized(size); });
}

gboolean TGtkHost::MainDelete(GtkWidget*, GdkEvent*, gpointer p) {
  auto* self = static_cast<TGtkHost*>(p);
  if (self->Events.CloseRequested) Guarded([&] { self->Events.CloseRequested(); });
  return TRUE; // the form decides; Close() follows when it agrees
}

} // namespace hb::lin
