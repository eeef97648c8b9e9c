// The native windows under a real (Xvfb) display: canvas pixels, the popup, the main window host,
// the modal dialog's loop, the single-instance wake-up.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "AppIdentity.h"
#include "BCryptHasher.h"
#include "Exception.h"
#include "GdiCanvas.h"
#include "MainWindow.h"
#include "Platform.h"
#include "PopupWindow.h"
#include "ShellDialogWindow.h"
#include "SingleInstance.h"
#include "UiGuard.h"
#include "Win32System.h"
#include "WinText.h"
#include "shell/DiagnosticLog.h"
#include "shell/ExceptionLogger.h"

namespace hb::win {
namespace {

void Pump(DWORD ms) {
  DWORD start = GetTickCount();
  MSG m;
  while (GetTickCount() - start < ms) {
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    Sleep(5);
  }
}

// A 64 x 64 memory bitmap to draw on and read back.
struct TBitmap {
  HDC Dc = CreateCompatibleDC(nullptr);
  HBITMAP Bmp;
  HGDIOBJ Old;
  TBitmap() {
    HDC screen = GetDC(nullptr);
    Bmp = CreateCompatibleBitmap(screen, 64, 64);
    ReleaseDC(nullptr, screen);
    Old = SelectObject(Dc, Bmp);
  }
  ~TBitmap() {
    SelectObject(Dc, Old);
    DeleteObject(Bmp);
    DeleteDC(Dc);
  }
  COLORREF At(int x, int y) { return GetPixel(Dc, x, y); }
};

TEST(GdiCanvas, ColoursShapesAndText) {
  TBitmap b;
  TGdiCanvas c(b.Dc, 96);
  c.FillRect({0, 0, 64, 64}, 0x070D18);
  EXPECT_EQ(b.At(10, 10), RGB(0x07, 0x0D, 0x18)); // red is the high byte of TColor
  c.RoundRect({8, 8, 20, 20}, 6, 6, 0x3B82F6, std::nullopt);
  EXPECT_EQ(b.At(14, 8), RGB(0x3B, 0x82, 0xF6)); // a fill without outline keeps its edge
  c.Ellipse({40, 40, 10, 10}, std::nullopt, 0xFFFFFF);
  EXPECT_EQ(b.At(45, 45), RGB(0x07, 0x0D, 0x18)); // outline only: the inside stays
  c.Line({0, 60}, {64, 60}, 0x2A3A57);
  EXPECT_EQ(b.At(30, 60), RGB(0x2A, 0x3A, 0x57));
  c.FrameRect({30, 0, 10, 10}, 0xFF0000);
  EXPECT_EQ(b.At(30, 5), RGB(0xFF, 0, 0));
  EXPECT_EQ(b.At(35, 5), RGB(0x07, 0x0D, 0x18));
  c.Icon("NO-SUCH-ICON", {0, 0, 32, 32}); // draws nothing, fails nothing
}

TEST(GdiCanvas, TextSizesFollowPointsDpiAndWrapping) {
  TGdiCanvas at96(nullptr, 96), at192(nullptr, 192);
  TFont f{"Microsoft YaHei UI", 12, false};
  TSize one = at96.MeasureText("机位图 seat map", f);
  TSize big = at192.MeasureText("机位图 seat map", f);
  EXPECT_GT(one.Width, 0);
  EXPECT_GT(big.Height, one.Height * 3 / 2); // twice the DPI, about twice the pixels
  TSize wrapped = at96.MeasureText("机位图 seat map 机位图 seat map 机位图 seat map", f, 80);
  EXPECT_LE(wrapped.Width, 80);
  EXPECT_GT(wrapped.Height, one.Height);
  EXPECT_GT(at96.MeasureText("", f).Height, 0); // an empty line still has a height
  TFont bold = f;
  bold.Bold = true;
  EXPECT_GE(at96.MeasureText("WWWW", bold).Width, at96.MeasureText("WWWW", f).Width);
}

struct TRecordingClient : IPopupClient {
  std::vector<std::string> Calls;
  void Paint(ICanvas&) override { Calls.push_back("paint"); }
  void MouseMove(int x, int y) override {
    Calls.push_back("move " + std::to_string(x) + "," + std::to_string(y));
  }
  void MouseUp(TMouseButton b, int x, int y) override {
    Calls.push_back(std::string(b == TMouseButton::mbLeft ? "left " : "other ") +
                    std::to_string(x) + "," + std::to_string(y));
  }
  void KeyDown(int key) override { Calls.push_back("key " + std::to_string(key)); }
  void Deactivated() override { Calls.push_back("deactivated"); }
  void MouseWheel(int notches) override { Calls.push_back("wheel " + std::to_string(notches)); }
  bool Has(const std::string& s) const {
    return std::find(Calls.begin(), Calls.end(), s) != Calls.end();
  }
};

TEST(PopupWindow, ShowsTopMostForwardsInputAndReportsDeactivation) {
  TMainWindow owner("owner", 0);
  ASSERT_TRUE(owner.Valid());
  ShowWindow(owner.Handle(), SW_SHOW);
  TRecordingClient client;
  auto popup = owner.CreatePopup(client);
  auto* native = static_cast<TPopupWindow*>(popup.get());
  ASSERT_NE(native->Handle(), nullptr);
  EXPECT_TRUE(GetClassLongW(native->Handle(), GCL_STYLE) & CS_DROPSHADOW);
  EXPECT_TRUE(GetWindowLongW(native->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  popup->SetBounds({100, 120, 280, 200});
  popup->Show();
  Pump(100);
  EXPECT_TRUE(popup->Visible());
  RECT r;
  GetWindowRect(native->Handle(), &r);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.bottom - r.top, 200);
  EXPECT_TRUE(client.Has("paint"));
  SendMessageW(native->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(12, 40));
  SendMessageW(native->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(12, 40));
  SendMessageW(native->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(3, 4));
  EXPECT_EQ(SendMessageW(native->Handle(), WM_KEYDOWN, VK_DOWN, 0), 0);
  EXPECT_TRUE(client.Has("move 12,40"));
  EXPECT_TRUE(client.Has("left 12,40"));
  EXPECT_TRUE(client.Has("other 3,4"));
  EXPECT_TRUE(client.Has("key 40"));
  // Wheel steps add up to whole notches: two half steps make one, a full step down is -1.
  SendMessageW(native->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, 60), 0);
  EXPECT_FALSE(client.Has("wheel 1"));
  SendMessageW(native->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, 60), 0);
  EXPECT_TRUE(client.Has("wheel 1"));
  SendMessageW(native->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
  EXPECT_TRUE(client.Has("wheel -1"));
  SendMessageW(native->Handle(), WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_TRUE(client.Has("deactivated"));
  popup->Hide();
  EXPECT_FALSE(popup->Visible());
}

TEST(MainWindow, CoversAMonitorRoutesWakeUpFirstAndClosesThroughTheLoop) {
  UINT wake = ShowMainMessage("HallBoardTest");
  ASSERT_NE(wake, 0u);
  TMainWindow w("机位图", wake);
  ASSERT_TRUE(w.Valid());
  auto monitors = w.Monitors();
  ASSERT_FALSE(monitors.empty());
  EXPECT_GT(monitors[0].Bounds.Width, 0);
  EXPECT_GE(monitors[0].Dpi, 96);
  w.PlaceWindow(monitors[0].Bounds);
  EXPECT_EQ(w.ClientSize(), (TSize{monitors[0].Bounds.Width, monitors[0].Bounds.Height}));
  wchar_t title[32];
  GetWindowTextW(w.Handle(), title, 32);
  EXPECT_STREQ(title, L"机位图");
  EXPECT_EQ(GetWindowLongW(w.Handle(), GWL_STYLE) & WS_CAPTION, 0);

  int firstShows = 0, wakes = 0, paints = 0;
  TSize coverSize;
  std::vector<TPoint> rightUps;
  w.Events.FirstShow = [&] {
    ++firstShows;
    w.SetCoverVisible(true);
    // Everything below runs inside the message loop, as the program's own handlers do.
    w.Queue().Post([&] {
      PostMessageW(w.Handle(), wake, 0, 0);
      HWND cover = GetWindow(w.Handle(), GW_CHILD);
      SendMessageW(cover, WM_RBUTTONUP, 0, MAKELPARAM(30, 40));
      w.Close();
      w.Close();
    });
  };
  int closes = 0;
  w.Events.CloseRequested = [&] { ++closes; };
  w.Events.WakeUp = [&] { ++wakes; };
  w.Events.PaintCover = [&](ICanvas&) { ++paints; };
  w.Events.CoverResized = [&](TSize s) { coverSize = s; };
  w.Events.CoverRightUp = [&](int x, int y) { rightUps.push_back({x, y}); };
  w.PlaceWindow({0, 0, 800, 600});
  EXPECT_EQ(coverSize, (TSize{800, 600}));
  EXPECT_EQ(w.Run(), 0); // returns once the window is gone
  EXPECT_EQ(firstShows, 1);
  EXPECT_EQ(wakes, 1);
  EXPECT_GE(paints, 1);
  EXPECT_EQ(rightUps, (std::vector<TPoint>{TPoint{30, 40}}));
  EXPECT_EQ(closes, 1);              // once, though Close() was asked for twice
  EXPECT_TRUE(IsWindow(w.Handle())); // still there for the owner's orderly take-down
  bool late = false;
  w.Queue().Post([&] { late = true; }); // after closing: dropped
  Pump(50);
  EXPECT_FALSE(late);
}

// Drives an open dialog from a thread timer: the modal loop dispatches it like any other message.
struct TDialogDriver {
  static inline std::function<void(HWND)> Action;
  static inline int Ticks = 0;
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    ++Ticks;
    HWND dlg = FindWindowW(L"HallBoardShellDialog", nullptr);
    // HB_DIALOG_HOLD_TICKS keeps the dialog up longer, for the runner's screenshot of it.
    static const int hold =
        std::getenv("HB_DIALOG_HOLD_TICKS") ? std::atoi(std::getenv("HB_DIALOG_HOLD_TICKS")) : 2;
    if (dlg && Ticks > hold && Action) std::exchange(Action, nullptr)(dlg);
  }
};

TEST(MainWindow, DisplayAndDpiChangesPlaceOnTheMonitorAndTheCoverStaysOnTop) {
  TMainWindow w("机位图", 0);
  ASSERT_TRUE(w.Valid());
  const TRect monitor = w.Monitors().at(0).Bounds;
  int changes = 0, moves = 0;
  // What the display form does on a change: place the window over its monitor again.
  w.Events.DisplayChanged = [&] {
    ++changes;
    w.PlaceWindow(monitor);
  };
  // The browser is told of every move, so its pop-ups open where the window now is.
  w.Events.Moved = [&] { ++moves; };
  w.PlaceWindow({10, 10, 300, 200});
  ShowWindow(w.Handle(), SW_SHOW);
  RECT r;
  // A monitor came or went: the window covers its monitor again.
  moves = 0;
  SendMessageW(w.Handle(), WM_DISPLAYCHANGE, 24, MAKELPARAM(monitor.Width, monitor.Height));
  GetWindowRect(w.Handle(), &r);
  EXPECT_EQ(changes, 1);
  EXPECT_GE(moves, 1);
  EXPECT_EQ(r.left, monitor.Left);
  EXPECT_EQ(r.right - r.left, monitor.Width);
  EXPECT_EQ(r.bottom - r.top, monitor.Height);
  // A scale change suggests a rescaled rectangle; the monitor's bounds win.
  RECT suggested{5, 5, 805, 605};
  SendMessageW(w.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  GetWindowRect(w.Handle(), &r);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(r.left, monitor.Left);
  EXPECT_EQ(r.right - r.left, monitor.Width);
  // A screen saver or display power-down asked of the window is refused (answered, not passed
  // on); switching the display on goes through.
  EXPECT_EQ(SendMessageW(w.Handle(), WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
  EXPECT_EQ(SendMessageW(w.Handle(), WM_SYSCOMMAND, SC_MONITORPOWER, 2), 0);
  // A window made in ours later, as the browser's is, lies below the shown cover at once.
  w.SetCoverVisible(true);
  HWND browserLike = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100,
                                     w.Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(browserLike, nullptr);
  HWND top = GetWindow(w.Handle(), GW_CHILD);
  wchar_t cls[64] = {};
  GetClassNameW(top, cls, 64);
  EXPECT_STREQ(cls, L"HallBoardCover");
  DestroyWindow(browserLike);
}

TEST(ShellDialogWindow, EscapeCancelsAButtonAnswersAndTimersKeepRunning) {
  struct {
    std::function<void(HWND)> Action;
    int Want;
  } cases[] = {
      {[](HWND d) { PostMessageW(d, WM_KEYDOWN, VK_ESCAPE, 0); }, -1},
      {[](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }, -1},
      {[](HWND d) {
         HWND second = GetWindow(GetWindow(d, GW_CHILD), GW_HWNDNEXT);
         HWND target = second ? second : GetWindow(d, GW_CHILD);
         PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
         PostMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
       },
       -2}, // one of the two buttons: 0 or 1
  };
  for (auto& c : cases) {
    TDialogDriver::Ticks = 0;
    TDialogDriver::Action = c.Action;
    UINT_PTR timer = SetTimer(nullptr, 0, 30, TDialogDriver::Tick);
    int result = ShowShellDialogWindow("遇到一点问题",
                                       "机位图程序遇到问题，请关闭后重新打开。\r\n错误码 M900-AB12",
                                       {"知道了", "取消"}, 0, -1);
    KillTimer(nullptr, timer);
    if (c.Want == -2)
      EXPECT_TRUE(result == 0 || result == 1) << result;
    else
      EXPECT_EQ(result, c.Want);
    EXPECT_GE(TDialogDriver::Ticks, 3);
    EXPECT_EQ(FindWindowW(L"HallBoardShellDialog", nullptr), nullptr);
  }
}

// The whole path of an exception thrown in a queued procedure, as the program wires it: our guard,
// the core's logger (problem report with an M900 tag), our dialog window; then the loop goes on.
TEST(ExceptionPath, LoggedShownAndTheLoopGoesOn) {
  static TWin32System sys;
  static TBCryptHasher hasher;
  InstallPlatform(&sys, &hasher);
  SetAppFolder(kAppFolder);
  std::string shown;
  InstallExceptionLogger(kAppFolder, kExceptionCode, kExceptionFriendlyText,
                         [&](const std::string& title, const std::string& text,
                             const std::vector<std::string>& buttons, int primary, int danger) {
                           shown = title + "|" + text + "|" + buttons.at(0);
                           return ShowShellDialogWindow(title, text, buttons, primary, danger);
                         });
  SetUiExceptionHandler([](const std::exception& e) { HandleException(e); });
  TMainWindow w("exception host", 0);
  ASSERT_TRUE(w.Valid());
  bool after = false;
  w.Queue().Post([] { throw Exception("坏了"); });
  w.Queue().Post([&] { after = true; });
  TDialogDriver::Ticks = 0;
  TDialogDriver::Action = [](HWND d) { PostMessageW(d, WM_KEYDOWN, VK_ESCAPE, 0); };
  UINT_PTR timer = SetTimer(nullptr, 0, 30, TDialogDriver::Tick);
  DWORD start = GetTickCount();
  while (!after && GetTickCount() - start < 20000) Pump(20);
  KillTimer(nullptr, timer);
  SetUiExceptionHandler(nullptr);
  EXPECT_TRUE(after);
  size_t tagAt = shown.find("错误码 M900-");
  ASSERT_NE(tagAt, std::string::npos) << shown;
  std::string tag = shown.substr(tagAt + std::string("错误码 ").size(), 9);
  EXPECT_EQ(shown,
            "遇到一点问题|机位图程序遇到问题，请关闭后重新打开。\r\n错误码 " + tag + "|知道了");
  std::string log;
  HANDLE f = CreateFileW(Wide(LogFilePath(kAppFolder)).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  log.resize(1 << 20);
  DWORD read = 0;
  ReadFile(f, log.data(), static_cast<DWORD>(log.size()), &read, nullptr);
  CloseHandle(f);
  log.resize(read);
  EXPECT_NE(log.find("[" + tag + "] Exception：坏了\r\n"), std::string::npos) << log;
}

TEST(SingleInstance, SecondClaimIsRefusedAndWakesTopLevelWindows) {
  const std::string id = "HallBoardSingleInstanceTest";
  UINT wake = ShowMainMessage(id);
  EXPECT_EQ(wake, ShowMainMessage(id)); // the same number for the same name
  TMainWindow w("wake target", wake);
  ASSERT_TRUE(w.Valid());
  ShowWindow(w.Handle(), SW_SHOWNOACTIVATE);
  int wakes = 0;
  int closes = 0;
  w.Events.CloseRequested = [&] { ++closes; };
  w.Events.WakeUp = [&] { ++wakes; };
  EXPECT_TRUE(EnsureSingleInstance(id, 0));
  EXPECT_FALSE(EnsureSingleInstance(id, 0)); // the mutex exists now
  Pump(100);
  EXPECT_EQ(wakes, 1);
}

} // namespace
} // namespace hb::win
