#include "KeepAwake.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <string>

namespace hb::lin {
namespace {

struct TInhibit {
  bool Wanted = false;
  guint32 Cookie = 0; // the screen saver's
  int SleepFd = -1;   // logind's: held open while sleep is blocked
};

TInhibit& State() {
  static TInhibit s;
  return s;
}

void ScreenSaverDone(GObject* bus, GAsyncResult* res, gpointer) {
  GVariant* v = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), res, nullptr);
  if (!v) return;
  guint32 cookie = 0;
  g_variant_get(v, "(u)", &cookie);
  g_variant_unref(v);
  if (State().Wanted)
    State().Cookie = cookie;
  else // switched off while the answer was on its way
    g_dbus_connection_call(G_DBUS_CONNECTION(bus), "org.freedesktop.ScreenSaver",
                           "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
                           "UnInhibit", g_variant_new("(u)", cookie), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void LogindDone(GObject* bus, GAsyncResult* res, gpointer) {
  GUnixFDList* fds = nullptr;
  GVariant* v =
      g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(bus), &fds, res, nullptr);
  if (!v) return;
  gint32 index = -1;
  g_variant_get(v, "(h)", &index);
  g_variant_unref(v);
  int fd = fds && index >= 0 ? g_unix_fd_list_get(fds, index, nullptr) : -1;
  if (fds) g_object_unref(fds);
  if (fd < 0) return;
  if (State().Wanted && State().SleepFd < 0)
    State().SleepFd = fd;
  else
    close(fd);
}

} // namespace

void SetKeepAwake(bool on) {
  auto& s = State();
  if (s.Wanted == on) return;
  s.Wanted = on;
  // Without an announced session bus GLib would try to autolaunch one; a kiosk under a bare X
  // server has none and needs none.
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  std::string busPath = runtime ? std::string(runtime) + "/bus" : std::string();
  bool haveSession = g_getenv("DBUS_SESSION_BUS_ADDRESS") ||
                     (!busPath.empty() && g_file_test(busPath.c_str(), G_FILE_TEST_EXISTS));
  GDBusConnection* session =
      haveSession ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr;
  GDBusConnection* system = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
  if (on) {
    if (session)
      g_dbus_connection_call(session, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                             "org.freedesktop.ScreenSaver", "Inhibit",
                             g_variant_new("(ss)", "hallBoard", "机位图正在显示"),
                             G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr,
                             ScreenSaverDone, nullptr);
    if (system)
      g_dbus_connection_call_with_unix_fd_list(
          system, "org.freedesktop.login1", "/org/freedesktop/login1",
          "org.freedesktop.login1.Manager", "Inhibit",
          g_variant_new("(ssss)", "idle:sleep", "hallBoard", "机位图正在显示", "block"),
          G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, nullptr,
          LogindDone, nullptr);
  } else {
    if (session && s.Cookie)
      g_dbus_connection_call_sync(session, "org.freedesktop.ScreenSaver",
                                  "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
                                  "UnInhibit", g_variant_new("(u)", s.Cookie), nullptr,
                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, nullptr);
    s.Cookie = 0;
    if (s.SleepFd >= 0) close(s.SleepFd);
    s.SleepFd = -1;
  }
  if (session) g_object_unref(session);
  if (system) g_object_unref(system);
}

} // namespace hb::lin
