#include "ShellDialogWindow.h"

#include <gtk/gtk.h>

#include "CairoCanvas.h"
#include "GtkHost.h"
#include "UiGuard.h"
#include "shell/ShellDialog.h"

namespace hb::lin {
namespace {

struct TDialogState {
  TShellDialog* Dialog;
  GtkWidget* Window;
  GMainLoop* Loop;
};

gboolean Draw(GtkWidget*, cairo_t* cr, gpointer p) {
  auto* s = static_cast<TDialogState*>(p);
  Guarded([&] {
    TCairoCanvas canvas(cr, 96);
    s->Dialog->Paint(canvas);
  });
  return TRUE;
}

gboolean Motion(GtkWidget*, GdkEventMotion* e, gpointer p) {
  auto* s = static_cast<TDialogState*>(p);
  Guarded([&] { s->Dialog->MouseMove(static_cast<int>(e->x), static_cast<int>(e->y)); });
  return TRUE;
}

gboolean Leave(GtkWidget*, GdkEventCrossing*, gpointer p) {
  auto* s = static_cast<TDialogState*>(p);
  Guarded([&] { s->Dialog->MouseLeave(); });
  return TRUE;
}

gboolean Press(GtkWidget*, GdkEventButton* e, gpointer p) {
  auto* s = static_cast<TDialogState*>(p);
  if (e->button == 1)
    Guarded([&] { s->Dialog->MouseDown(static_cast<int>(e->x), static_cast<int>(e->y)); });
  return TRUE;
}

gboolean Release(GtkWidget*, GdkEventButton* e, gpointer p) {
  auto* s = static_cast<TDialogState*>(p);
  if (e->button == 1)
    Guarded([&] { s->Dialog->MouseUp(static_cast<int>(e->x), static_cast<int>(e->y)); });
  return TRUE;
}

gboolean Key(GtkWidget*, GdkEventKey* e, gpointer p) {
  auto* s = static_cast<TDialogState*>(p);
  int vk = VirtualKeyOf(e->keyval);
  Guarded([&] { s->Dialog->KeyDown(vk); });
  return TRUE;
}

gboolean Delete(GtkWidget*, GdkEvent*, gpointer p) {
  auto* s = static_cast<TDialogState*>(p);
  Guarded([&] { s->Dialog->Cancel(); });
  return TRUE;
}

} // namespace

int ShowShellDialog(const std::string& title, const std::string& text,
                    const std::vector<std::string>& buttons, int primaryIndex, int dangerIndex,
                    const TRect& area) {
  TMeasureCanvas measure(96);
  TShellDialog dialog(title, text, buttons, primaryIndex, dangerIndex, measure.Canvas());
  const auto& layout = dialog.Layout();

  GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(w), title.c_str());
  gtk_window_set_decorated(GTK_WINDOW(w), FALSE);
  gtk_window_set_keep_above(GTK_WINDOW(w), TRUE);
  gtk_window_set_modal(GTK_WINDOW(w), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(w), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(GTK_WINDOW(w), FALSE);
  gtk_widget_set_app_paintable(w, TRUE);
  gtk_widget_set_size_request(w, layout.Client.Width, layout.Client.Height);
  gtk_window_move(GTK_WINDOW(w), area.Left + (area.Width - layout.Client.Width) / 2,
                  area.Top + (area.Height - layout.Client.Height) / 2);
  gtk_widget_add_events(w, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                               GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK |
                               GDK_KEY_PRESS_MASK);

  TDialogState state{&dialog, w, g_main_loop_new(nullptr, FALSE)};
  dialog.OnInvalidate = [w] { gtk_widget_queue_draw(w); };
  dialog.OnClose = [&state] { g_main_loop_quit(state.Loop); };
  g_signal_connect(w, "draw", G_CALLBACK(Draw), &state);
  g_signal_connect(w, "motion-notify-event", G_CALLBACK(Motion), &state);
  g_signal_connect(w, "leave-notify-event", G_CALLBACK(Leave), &state);
  g_signal_connect(w, "button-press-event", G_CALLBACK(Press), &state);
  g_signal_connect(w, "button-release-event", G_CALLBACK(Release), &state);
  g_signal_connect(w, "key-press-event", G_CALLBACK(Key), &state);
  g_signal_connect(w, "delete-event", G_CALLBACK(Delete), &state);

  gtk_widget_show(w);
  // The rounded shape: everything outside the corners is cut away.
  if (GdkWindow* g = gtk_widget_get_window(w)) {
    cairo_surface_t* mask =
        cairo_image_surface_create(CAIRO_FORMAT_A1, layout.Region.Width, layout.Region.Height);
    cairo_t* cr = cairo_create(mask);
    TCairoCanvas c(cr, 96);
    c.RoundRect({0, 0, layout.Region.Width, layout.Region.Height}, layout.Corner, layout.Corner,
                0xFFFFFF, std::nullopt);
    cairo_destroy(cr);
    cairo_region_t* region = gdk_cairo_region_create_from_surface(mask);
    gdk_window_shape_combine_region(g, region, 0, 0);
    cairo_region_destroy(region);
    cairo_surface_destroy(mask);
    // Above the cover too, which is kept above the browser while it shows.
    SetKeptAboveCover(w, true);
    gdk_seat_grab(gdk_display_get_default_seat(gdk_display_get_default()), g,
                  GDK_SEAT_CAPABILITY_KEYBOARD, TRUE, nullptr, nullptr, nullptr, nullptr);
  }
  if (!dialog.Closed()) g_main_loop_run(state.Loop);
  gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
  SetKeptAboveCover(w, false);
  gtk_widget_destroy(w);
  g_main_loop_unref(state.Loop);
  return dialog.Result();
}

} // namespace hb::lin
