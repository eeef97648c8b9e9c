#include "MainWindow.h"

#include "GdiCanvas.h"
#include "PopupWindow.h"
#include "UiGuard.h"
#include "WinText.h"

namespace hb::win {
namespace {

constexpr const wchar_t* kMainClass = L"HallBoardMain";
constexpr const wchar_t* kCoverClass = L"HallBoardCover";
constexpr TColor kBackground = 0x070D18;

TRect FromRect(const RECT& r) {
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

int MonitorDpi(HMONITOR m) {
  // GetDpiForMonitor lives in shcore.dll from Windows 8.1; loaded at run time.
  using TGetDpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static HMODULE shcore = LoadLibraryW(L"shcore.dll");
  static auto get = shcore ? reinterpret_cast<TGetDpiForMonitor>(reinterpret_cast<void*>(
                                 GetProcAddress(shcore, "GetDpiForMonitor")))
                           : nullptr;
  UINT x = 0, y = 0;
  if (get && SUCCEEDED(get(m, 0 /* MDT_EFFECTIVE_DPI */, &x, &y)) && x > 0)
    return static_cast<int>(x);
  return WindowDpi(nullptr);
}

BOOL CALLBACK CollectMonitor(HMONITOR m, HDC, LPRECT, LPARAM lp) {
  reinterpret_cast<std::vector<TMonitor>*>(lp)->push_back(MonitorFromHandle(m));
  return TRUE;
}

bool RegisterClasses(HINSTANCE inst) {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW mc{};
  mc.cbSize = sizeof mc;
  mc.lpfnWndProc = TMainWindow::MainProc;
  mc.hInstance = inst;
  mc.hIcon = LoadIconW(inst, L"MAINICON");
  mc.hIconSm = static_cast<HICON>(LoadImageW(inst, L"MAINICON", IMAGE_ICON, 16, 16, 0));
  mc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  mc.hbrBackground = CreateSolidBrush(ColorRef(kBackground)); // lives as long as the class
  mc.lpszClassName = kMainClass;
  WNDCLASSEXW cc{};
  cc.cbSize = sizeof cc;
  cc.lpfnWndProc = TMainWindow::CoverProc;
  cc.hInstance = inst;
  cc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cc.lpszClassName = kCoverClass;
  registered = RegisterClassExW(&mc) != 0 && RegisterClassExW(&cc) != 0;
  return registered;
}

} // namespace

TMonitor MonitorFromHandle(HMONITOR m) {
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  TMonitor out;
  if (m && GetMonitorInfoW(m, &mi)) {
    out.Bounds = FromRect(mi.rcMonitor);
    out.WorkArea = FromRect(mi.rcWork);
    out.Primary = (mi.dwFlags & MONITORINFOF_PRIMARY) != 0;
  }
  out.Dpi = m ? MonitorDpi(m) : 96;
  return out;
}

TMainWindow::TMainWindow(const std::string& title, UINT wakeMessage) : FWakeMessage(wakeMessage) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  if (!RegisterClasses(inst)) return;
  FHwnd = CreateWindowExW(0, kMainClass, Wide(title).c_str(), WS_POPUP | WS_CLIPCHILDREN, 0, 0, 640,
                          480, nullptr, nullptr, inst, this);
  if (!FHwnd) return;
  FQueue = new TWinUiQueue(FHwnd);
  FCover = CreateWindowExW(0, kCoverClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 640,
                           480, FHwnd, nullptr, inst, this);
}

TMainWindow::~TMainWindow() {
  if (FQueue) FQueue->Shutdown();
  if (FHwnd && IsWindow(FHwnd)) {
    SetWindowLongPtrW(FHwnd, GWLP_USERDATA, 0);
    DestroyWindow(FHwnd);
  }
}

int TMainWindow::Run() {
  if (!Valid()) return 0;
  ShowWindow(FHwnd, SW_SHOW);
  UpdateWindow(FHwnd);
  if (!FShown) {
    FShown = true;
    if (Events.FirstShow) Guarded([&] { Events.FirstShow(); });
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

LRESULT CALLBACK TMainWindow::MainProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<TMainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self) return DefWindowProcW(h, m, wp, lp);
  bool handled = false;
  LRESULT r = 0;
  Guarded([&] { r = self->HandleMain(m, wp, lp, handled); });
  return handled ? r : DefWindowProcW(h, m, wp, lp);
}

LRESULT TMainWindow::HandleMain(UINT m, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  // The wake-up message comes first, before any other handling.
  if (FWakeMessage != 0 && m == FWakeMessage) {
    if (Events.WakeUp)
      Events.WakeUp();
    else
      BringToFront();
    return 0;
  }
  if (FQueue && FQueue->HandleMessage(m, wp, lp)) return 0;
  switch (m) {
  case WM_TIMER:
    if (TWinTimer::HandleTimer(wp)) return 0;
    break;
  case WM_SIZE:
    FitChildren();
    return 0;
  case WM_MOVE:
    // The browser draws its lists, tooltips and input-method windows at screen places it keeps
    // itself; it must be told that ours moved (to another monitor, after a display change).
    if (Events.Moved) Events.Moved();
    return 0;
  case WM_DPICHANGED: {
    // The suggested rectangle is the old one rescaled, not the monitor: place on the monitor's
    // bounds again. Layout and fonts follow the new DPI on the next paint.
    if (Events.DisplayChanged) {
      Events.DisplayChanged();
    } else {
      auto* r = reinterpret_cast<RECT*>(lp);
      SetWindowPos(FHwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(FCover, nullptr, FALSE);
    return 0;
  }
  case WM_DISPLAYCHANGE:
    // A monitor arrived or left, or changed its resolution: a TV switched on after start-up.
    if (Events.DisplayChanged) Events.DisplayChanged();
    InvalidateRect(FCover, nullptr, FALSE);
    return 0;
  case WM_SYSCOMMAND:
    // A kiosk stays on: no screen saver and no display power-down. (Turning the display on,
    // lParam -1, goes through.)
    if ((wp & 0xFFF0) == SC_SCREENSAVE) return 0;
    if ((wp & 0xFFF0) == SC_MONITORPOWER && lp != -1) return 0;
    break;
  case WM_PARENTNOTIFY:
    // The browser's window is made a child of ours on top of the others: the cover goes back
    // above it at once.
    if (LOWORD(wp) == WM_CREATE) RaiseCover();
    break;
  case WM_CLOSE:
    // The system's close command (Alt+F4) and Close() end here, once: the message loop ends and
    // the owner takes the window down after it, browser first, while the window still exists.
    if (FClosing) return 0;
    FClosing = true;
    if (Events.CloseRequested) Events.CloseRequested();
    if (FQueue) FQueue->Shutdown(); // late results are dropped from here on
    PostQuitMessage(0);
    return 0;
  }
  handled = false;
  return 0;
}

LRESULT CALLBACK TMainWindow::CoverProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<TMainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self) return DefWindowProcW(h, m, wp, lp);
  bool handled = true;
  LRESULT r = 0;
  Guarded([&] {
    switch (m) {
    case WM_PAINT:
      PaintBuffered(h, [&](ICanvas& c) {
        RECT rc;
        GetClientRect(h, &rc);
        c.FillRect({0, 0, rc.right, rc.bottom}, kBackground);
        if (self->Events.PaintCover) self->Events.PaintCover(c);
      });
      break;
    case WM_ERASEBKGND:
      r = 1;
      break;
    case WM_SIZE:
      if (self->Events.CoverResized)
        self->Events.CoverResized({static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))});
      InvalidateRect(h, nullptr, FALSE);
      break;
    case WM_RBUTTONUP:
      if (self->Events.CoverRightUp)
        self->Events.CoverRightUp(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      break;
    default:
      handled = false;
    }
  });
  return handled ? r : DefWindowProcW(h, m, wp, lp);
}

void TMainWindow::FitChildren() {
  RECT rc{};
  GetClientRect(FHwnd, &rc);
  if (FCover)
    SetWindowPos(FCover, nullptr, 0, 0, rc.right, rc.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
  if (Events.ClientResized) Events.ClientResized();
}

std::vector<TMonitor> TMainWindow::Monitors() {
  std::vector<TMonitor> out;
  EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&out));
  return out;
}

void TMainWindow::PlaceWindow(const TRect& b) {
  SetWindowPos(FHwnd, nullptr, b.Left, b.Top, b.Width, b.Height, SWP_NOZORDER | SWP_NOACTIVATE);
  FitChildren();
}

TSize TMainWindow::ClientSize() {
  RECT rc{};
  GetClientRect(FHwnd, &rc);
  return {rc.right, rc.bottom};
}

void TMainWindow::SetCoverVisible(bool visible) {
  if (!FCover) return;
  if (visible) {
    // Above the browser's own child windows.
    SetWindowPos(FCover, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    InvalidateRect(FCover, nullptr, FALSE);
  } else {
    ShowWindow(FCover, SW_HIDE);
  }
}

void TMainWindow::RaiseCover() {
  if (FCover && IsWindowVisible(FCover))
    SetWindowPos(FCover, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool TMainWindow::CoverVisible() const {
  return FCover && IsWindowVisible(FCover);
}

void TMainWindow::InvalidateCover() {
  if (FCover) InvalidateRect(FCover, nullptr, FALSE);
}

TPoint TMainWindow::CursorPos() {
  POINT p{};
  GetCursorPos(&p);
  return {p.x, p.y};
}

TMonitor TMainWindow::MonitorNearest(TPoint p) {
  return MonitorFromHandle(MonitorFromPoint(POINT{p.X, p.Y}, MONITOR_DEFAULTTONEAREST));
}

std::unique_ptr<IPopupWindow> TMainWindow::CreatePopup(IPopupClient& client) {
  return std::make_unique<TPopupWindow>(FHwnd, client);
}

void TMainWindow::BringToFront() {
  ShowWindow(FHwnd, IsIconic(FHwnd) ? SW_RESTORE : SW_SHOW);
  BringWindowToTop(FHwnd);
  SetForegroundWindow(FHwnd);
}

void TMainWindow::Close() {
  PostMessageW(FHwnd, WM_CLOSE, 0, 0);
}

} // namespace hb::win
