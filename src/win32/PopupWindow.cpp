#include "PopupWindow.h"

#include "GdiCanvas.h"
#include "UiGuard.h"

namespace hb::win {
namespace {

constexpr const wchar_t* kPopupClass = L"HallBoardPopup";

// DwmSetWindowAttribute(DWMWA_WINDOW_CORNER_PREFERENCE = 33, DWMWCP_ROUND = 2): Windows 11 rounds
// the corners; older systems lack the attribute and keep square corners. dwmapi is loaded at run
// time, so a system without it still shows the menu.
void AskForRoundCorners(HWND h) {
  using TSetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  static HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
  static auto set = dwm ? reinterpret_cast<TSetAttribute>(
                              reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")))
                        : nullptr;
  if (!set) return;
  DWORD round = 2;
  set(h, 33, &round, sizeof round); // the result is of no consequence
}

} // namespace

TPopupWindow::TPopupWindow(HWND owner, IPopupClient& client) : FClient(client) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  static bool registered = false;
  if (!registered) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DROPSHADOW;
    wc.lpfnWndProc = Proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kPopupClass;
    registered = RegisterClassExW(&wc) != 0;
  }
  FHwnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kPopupClass, L"", WS_POPUP, 0, 0, 1, 1,
                          owner, nullptr, inst, nullptr);
  if (FHwnd) SetWindowLongPtrW(FHwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TPopupWindow::~TPopupWindow() {
  if (!FHwnd) return;
  SetWindowLongPtrW(FHwnd, GWLP_USERDATA, 0);
  DestroyWindow(FHwnd);
}

void TPopupWindow::SetBounds(const TRect& r) {
  if (FHwnd) SetWindowPos(FHwnd, HWND_TOPMOST, r.Left, r.Top, r.Width, r.Height, SWP_NOACTIVATE);
}

void TPopupWindow::Show() {
  if (!FHwnd) return;
  AskForRoundCorners(FHwnd);
  ShowWindow(FHwnd, SW_SHOW);
  SetForegroundWindow(FHwnd); // the menu takes the keyboard while it is shown
  SetFocus(FHwnd);
}

void TPopupWindow::Hide() {
  if (FHwnd) ShowWindow(FHwnd, SW_HIDE);
}

bool TPopupWindow::Visible() const {
  return FHwnd && IsWindowVisible(FHwnd);
}

void TPopupWindow::Invalidate() {
  if (FHwnd) InvalidateRect(FHwnd, nullptr, FALSE);
}

LRESULT CALLBACK TPopupWindow::Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<TPopupWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self) return DefWindowProcW(h, m, wp, lp);
  bool handled = false;
  LRESULT r = 0;
  Guarded([&] { r = self->Handle(m, wp, lp, handled); });
  return handled ? r : DefWindowProcW(h, m, wp, lp);
}

LRESULT TPopupWindow::Handle(UINT m, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  int x = static_cast<short>(LOWORD(lp)), y = static_cast<short>(HIWORD(lp));
  switch (m) {
  case WM_PAINT:
    PaintBuffered(FHwnd, [&](ICanvas& c) { FClient.Paint(c); });
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_MOUSEMOVE:
    FClient.MouseMove(x, y);
    return 0;
  case WM_LBUTTONUP:
    FClient.MouseUp(TMouseButton::mbLeft, x, y);
    return 0;
  case WM_RBUTTONUP:
    FClient.MouseUp(TMouseButton::mbRight, x, y);
    return 0;
  case WM_MBUTTONUP:
    FClient.MouseUp(TMouseButton::mbMiddle, x, y);
    return 0;
  case WM_MOUSEWHEEL: {
    // Whole notches of 120; a high-resolution wheel's smaller steps add up until they make one.
    FWheel += GET_WHEEL_DELTA_WPARAM(wp);
    const int notches = FWheel / WHEEL_DELTA;
    FWheel -= notches * WHEEL_DELTA;
    if (notches != 0) FClient.MouseWheel(notches);
    return 0;
  }
  case WM_KEYDOWN:
    FClient.KeyDown(static_cast<int>(wp));
    return 0; // consumed: no key goes further while the menu has the focus
  case WM_CHAR:
    return 0;
  case WM_ACTIVATE:
    if (LOWORD(wp) == WA_INACTIVE) FClient.Deactivated();
    handled = false;
    return 0;
  case WM_MOUSEACTIVATE:
    return MA_ACTIVATE;
  default:
    handled = false;
    return 0;
  }
}

} // namespace hb::win
