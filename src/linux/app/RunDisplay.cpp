#include "RunDisplay.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <unistd.h>

#include <csignal>

#include <memory>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "AppIdentity.h"
#include "CairoCanvas.h"
#include "ChromiumBrowser.h"
#include "ChromiumLaunch.h"
#include "CurlHttpClient.h"
#include "Exception.h"
#include "GLibLoop.h"
#include "GtkHost.h"
#include "KeepAwake.h"
#include "ShellDialogWindow.h"
#include "UiGuard.h"
#include "display/BrowserHost.h"
#include "display/uHallBoardMain.h"
#include "settings/Settings.h"
#include "shell/DiagnosticLog.h"
#include "shell/ExceptionLogger.h"
#include "shell/GatewayCache.h"

namespace hb::lin {
namespace {

constexpr const char* kMissingBrowserTitle = "缺少 Chromium 浏览器";
constexpr const char* kMissingBrowserAdvice =
    "这台电脑需要先安装 Chromium 浏览器（Debian / Ubuntu：sudo apt-get install chromium），"
    "装好后重新打开机位图。错误码 ";

// What the test tools may ask on the command socket, when HALLBOARD_TEST_HOOKS=1: the window's
// state, a script run in the page, a renderer crash.
std::string StateJson(THallBoardForm& form, TGtkHost& host, TChromiumBrowser& browser) {
  rapidjson::StringBuffer b;
  rapidjson::Writer<rapidjson::StringBuffer> w(b);
  w.StartObject();
  w.Key("cover");
  w.Bool(host.CoverVisible());
  w.Key("title");
  w.String(form.CoverTitle().c_str());
  w.Key("detail");
  w.String(form.CoverDetail().c_str());
  w.Key("hint");
  w.String(form.CoverHint().c_str());
  w.Key("retryVisible");
  w.Bool(form.RetryVisible());
  w.Key("retryRunning");
  w.Bool(form.RetryRunning());
  w.Key("retryLeft");
  w.Int(form.RetryLeft());
  w.Key("currentMap");
  w.Int(form.CurrentMap());
  w.Key("browserReady");
  w.Bool(form.BrowserReady());
  w.Key("pid");
  w.Int(static_cast<int>(getpid()));
  w.Key("browserPid");
  w.Int(browser.BrowserPid());
  TSeatMenu* menu = form.Menu();
  w.Key("menuVisible");
  w.Bool(menu && menu->Visible());
  if (menu) {
    w.Key("menuHot");
    w.Int(menu->Hot());
    w.Key("menuEntries");
    w.StartArray();
    for (const auto& e : menu->Entries()) w.String(e.Caption.c_str());
    w.EndArray();
    TRect r = menu->Bounds();
    w.Key("menuBounds");
    w.StartArray();
    for (int v : {r.Left, r.Top, r.Width, r.Height}) w.Int(v);
    w.EndArray();
  }
  w.EndObject();
  return std::string(b.GetString(), b.GetSize());
}

} // namespace

int RunDisplay(ISystem& system, TSingleInstance& instance, int argc, char** argv) {
  // The browser takes longer to start than anything else here, so it starts first, on the
  // monitor the window will cover; the window, its fonts and theme are made while it starts.
  // Where the last start placed it is kept with its profile: then it starts even before the
  // display is opened, and is moved should the monitors have changed since.
  const TSettings settings = LoadSettings();
  const TBrowserOptions browserOptions = DisplayBrowserOptions(AppDataFolder());
  TRect startBounds{0, 0, 1280, 720};
  TGtkHost* hostOfBrowser = nullptr;
  TChromiumBrowser browser([&hostOfBrowser, &startBounds] {
    return hostOfBrowser ? hostOfBrowser->Bounds() : startBounds;
  });
  const bool startedEarly =
      LoadStartWindow(ChromiumProfileFolder(browserOptions.UserDataFolder), startBounds);
  if (startedEarly) browser.Prestart(browserOptions);

  // Opening the display, GTK probes OpenGL to pick a visual for GL drawing. We draw with cairo
  // only, and on a display computer without a GPU driver the probe loads Mesa's software renderer
  // and LLVM: some 40 ms before the browser can start. A GDK_GL the user set is left as it is,
  // and ours does not reach the browser.
  const bool glProbeOff = !g_getenv("GDK_GL") && g_setenv("GDK_GL", "disable", FALSE);
  const bool displayOpen = gtk_init_check(&argc, &argv);
  if (glProbeOff) g_unsetenv("GDK_GL");
  if (!displayOpen) {
    const char* display = g_getenv("DISPLAY");
    WriteLog(std::string("没有可用的显示，机位图无法打开 (DISPLAY=") + (display ? display : "") +
             ")");
    std::fprintf(stderr, "hallBoard: cannot open the display\n");
    return 1;
  }
  g_set_application_name(kAppTitle);

  if (const std::vector<TMonitor> monitors = GdkMonitors();
      const TMonitor* m = ChooseMonitor(monitors, settings.Monitor))
    startBounds = m->Bounds;
  if (!startedEarly) browser.Prestart(browserOptions);

  TGtkHost host(kAppTitle);
  hostOfBrowser = &host;
  InstallExceptionLogger(kAppFolder, kExceptionCode, kExceptionFriendlyText,
                         [&host](const std::string& title, const std::string& text,
                                 const std::vector<std::string>& buttons, int primary, int danger) {
                           return ShowShellDialog(title, text, buttons, primary, danger,
                                                  host.Bounds());
                         });
  SetUiExceptionHandler([](const std::exception& e) { HandleException(e); });

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  TGLibUiQueue queue;
  // Exceptions caught in the browser's callbacks are reported from here, outside them.
  SetUiReportQueue(&queue);
  bool closing = false;

  TFormPorts ports(
      host, browser, queue, GLibTimerFactory(),
      [] { return std::unique_ptr<IHttpClient>(std::make_unique<TCurlHttpClient>()); }, system);
  ports.NewMeasureCanvas = [](int dpi) -> std::unique_ptr<ICanvas> {
    return std::make_unique<TMeasureCanvas>(dpi);
  };
  ports.MissingBrowserTitle = kMissingBrowserTitle;
  ports.MissingBrowserAdvice = kMissingBrowserAdvice;
  ports.Settings = &settings;

  std::unique_ptr<THallBoardForm> form;
  Guarded([&] { form = std::make_unique<THallBoardForm>(ports); });
  if (!form) {
    SetUiReportQueue(nullptr);
    g_main_loop_unref(loop);
    return 1;
  }
  host.Events.PaintCover = [&](ICanvas& c) { form->PaintCover(c); };
  host.Events.CoverResized = [&](TSize s) { form->CoverSize(s); };
  host.Events.CoverRightUp = [&] { form->CoverRightButtonUp(); };
  host.Events.CloseRequested = [&] { form->Close(); };
  host.Events.BringBrowserToFront = [&] { browser.Activate(); };
  host.Events.DisplayChanged = [&] {
    form->DisplayChanged();
    browser.FitToBounds();
  };
  host.Events.Closed = [&] {
    if (closing) return;
    closing = true;
    queue.Shutdown(); // late results of background work are dropped from here on
    g_main_loop_quit(loop);
  };
  browser.OnWindowShown = [&] { host.RaiseAbove(); };
  browser.FilterRestMs = [&system] {
    uint64_t until = BlockedUntil.load(), now = system.TickCount64();
    return until > now ? until - now : 0;
  };

  bool hooks = g_strcmp0(g_getenv("HALLBOARD_TEST_HOOKS"), "1") == 0;
  instance.Listen(
      [&, hooks](const std::string& command, std::function<void(const std::string&)> reply) {
        if (closing) return reply("closing");
        if (command == "wake") {
          form->WakeUp();
          return reply("ok");
        }
        if (!hooks) return reply("unknown command");
        if (command == "state") return reply(StateJson(*form, host, browser));
        // An exception escaping a callback: the logger's report and dialog, seen from outside.
        if (command == "throw") throw Exception("测试用的异常");
        if (command == "crash") {
          browser.CrashRenderer();
          return reply("ok");
        }
        if (command.rfind("eval ", 0) == 0) return browser.Evaluate(command.substr(5), reply);
        reply("unknown command");
      });

  // A service manager's stop (SIGTERM) or Ctrl+C closes the window the ordinary way, so the
  // browser is ended with it instead of being left behind.
  auto closeOnSignal = +[](gpointer p) -> gboolean {
    auto* f = static_cast<THallBoardForm*>(p);
    Guarded([&] { f->Close(); });
    return G_SOURCE_CONTINUE;
  };
  unsigned sigTerm = g_unix_signal_add(SIGTERM, closeOnSignal, form.get());
  unsigned sigInt = g_unix_signal_add(SIGINT, closeOnSignal, form.get());

  host.Show();
  SetKeepAwake(true);
  Guarded([&] { form->FirstShow(); });
  g_main_loop_run(loop);
  // Fetch threads still running must not reach the queue (on this stack) once it is gone.
  StopGatewayCache();

  // The form's destructor marks it closing, releases keep-awake and lets go of the browser's
  // events; the browser process is ended after it.
  g_source_remove(sigTerm);
  g_source_remove(sigInt);
  form.reset();
  SetUiReportQueue(nullptr);
  SetKeepAwake(false);
  g_main_loop_unref(loop);
  return 0;
}

} // namespace hb::lin
