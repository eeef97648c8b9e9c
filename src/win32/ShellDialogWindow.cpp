#include "ShellDialogWindow.h"

#include <windows.h>

#include <memory>

#include "GdiCanvas.h"
#include "MainWindow.h"
#include "UiGuard.h"
#include "WinText.h"
#include "shell/ShellDialog.h"

namespace hb::win {
namespace {

constexpr const wchar_t* kDialogClass = L"HallBoardShellDialog";
constexpr const wchar_t* kButtonClass = L"HallBoardFlatButton";

struct TDialogWindow {
  TShellDialog* Model = nullptr;
  HWND Hwnd = nullptr;
};

struct TButtonWindow {
  TFlatButton* Model = nullptr;
  bool Tracking = false;
};

LRESULT CALLBACK ButtonProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<TButtonWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || !self->Model) return DefWindowProcW(h, m, wp, lp);
  LRESULT result = 0;
  bool handled = true;
  Guarded([&] {
    switch (m) {
    case WM_PAINT:
      PaintBuffered(h, [&](ICanvas& c) { self->Model->Paint(c); });
      break;
    case WM_ERASEBKGND:
      result = 1; // the paint covers everything
      break;
    case WM_MOUSEMOVE:
      if (!self->Tracking) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, h, 0};
        self->Tracking = TrackMouseEvent(&t) != FALSE;
        self->Model->MouseEnter();
      }
      break;
    case WM_MOUSELEAVE:
      self->Tracking = false;
      self->Model->MouseLeave();
      break;
    case WM_LBUTTONDOWN:
      SetCapture(h);
      break;
    case WM_LBUTTONUP: {
      ReleaseCapture();
      RECT rc;
      GetClientRect(h, &rc);
      POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
      if (PtInRect(&rc, p)) self->Model->Click();
      break;
    }
    default:
      handled = false;
    }
  });
  return handled ? result : DefWindowProcW(h, m, wp, lp);
}

LRESULT CALLBACK DialogProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<TDialogWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || !self->Model) return DefWindowProcW(h, m, wp, lp);
  LRESULT result = 0;
  bool handled = true;
  Guarded([&] {
    switch (m) {
    case WM_PAINT:
      PaintBuffered(h, [&](ICanvas& c) { self->Model->Paint(c); });
      break;
    case WM_ERASEBKGND:
      result = 1;
      break;
    case WM_KEYDOWN:
      self->Model->KeyDown(static_cast<int>(wp));
      break;
    case WM_CLOSE:
      self->Model->Cancel();
      break;
    default:
      handled = false;
    }
  });
  return handled ? result : DefWindowProcW(h, m, wp, lp);
}

void RegisterClasses(HINSTANCE inst) {
  static bool done = false;
  if (done) return;
  WNDCLASSEXW dc{};
  dc.cbSize = sizeof dc;
  dc.style = CS_DROPSHADOW; // the system's drop shadow around the borderless dialog
  dc.lpfnWndProc = DialogProc;
  dc.hInstance = inst;
  dc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  dc.hIcon = LoadIconW(inst, L"MAINICON");
  dc.lpszClassName = kDialogClass;
  WNDCLASSEXW bc{};
  bc.cbSize = sizeof bc;
  bc.lpfnWndProc = ButtonProc;
  bc.hInstance = inst;
  bc.hCursor = LoadCursorW(nullptr, IDC_HAND);
  bc.lpszClassName = kButtonClass;
  done = RegisterClassExW(&dc) != 0 && RegisterClassExW(&bc) != 0;
}

} // namespace

int ShowShellDialogWindow(const std::string& title, const std::string& text,
                          const std::vector<std::string>& buttons, int primaryIndex,
                          int dangerIndex) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  RegisterClasses(inst);
  // Laid out at the DPI of the primary monitor, in whose work area the dialog is centred.
  TGdiCanvas measure(
      nullptr, MonitorFromHandle(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)).Dpi);
  TShellDialog model(title, text, buttons, primaryIndex, dangerIndex, measure);
  const TShellDialogLayout& layout = model.Layout();

  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int w = layout.Client.Width, hgt = layout.Client.Height;
  int x = work.left + (work.right - work.left - w) / 2;
  int y = work.top + (work.bottom - work.top - hgt) / 2;
  TDialogWindow dlg{&model};
  dlg.Hwnd =
      CreateWindowExW(WS_EX_TOPMOST, kDialogClass, Wide(title).c_str(), WS_POPUP | WS_CLIPCHILDREN,
                      x, y, w, hgt, nullptr, nullptr, inst, nullptr);
  if (!dlg.Hwnd) return -1;
  SetWindowLongPtrW(dlg.Hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&dlg));
  model.OnInvalidate = [&] { InvalidateRect(dlg.Hwnd, nullptr, FALSE); };

  std::vector<std::unique_ptr<TButtonWindow>> buttonWindows;
  for (size_t i = 0; i < model.Buttons().size() && i < layout.Buttons.size(); ++i) {
    auto bw = std::make_unique<TButtonWindow>();
    bw->Model = &model.Buttons()[i];
    const TRect& r = layout.Buttons[i];
    HWND child =
        CreateWindowExW(0, kButtonClass, Wide(bw->Model->Caption()).c_str(), WS_CHILD | WS_VISIBLE,
                        r.Left, r.Top, r.Width, r.Height, dlg.Hwnd, nullptr, inst, nullptr);
    if (!child) continue;
    SetWindowLongPtrW(child, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bw.get()));
    bw->Model->OnInvalidate = [child] { InvalidateRect(child, nullptr, FALSE); };
    buttonWindows.push_back(std::move(bw));
  }

  const TRect& rg = layout.Region;
  HRGN region =
      CreateRoundRectRgn(rg.Left, rg.Top, rg.Right(), rg.Bottom(), layout.Corner, layout.Corner);
  if (region && !SetWindowRgn(dlg.Hwnd, region, TRUE)) DeleteObject(region); // owned on success
  ShowWindow(dlg.Hwnd, SW_SHOW);
  SetForegroundWindow(dlg.Hwnd);
  SetFocus(dlg.Hwnd);

  // The dialog's own loop: keys of the dialog and its buttons go to the dialog first (key
  // preview); everything else of the thread is dispatched as usual.
  MSG msg;
  bool quit = false;
  WPARAM quitCode = 0;
  while (!model.Closed()) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      quitCode = msg.wParam;
      break;
    }
    if (got < 0) break;
    if (msg.message == WM_KEYDOWN && (msg.hwnd == dlg.Hwnd || GetParent(msg.hwnd) == dlg.Hwnd)) {
      Guarded([&] { model.KeyDown(static_cast<int>(msg.wParam)); });
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  int result = model.Result();
  for (auto& bw : buttonWindows) bw->Model->OnInvalidate = nullptr;
  model.OnInvalidate = nullptr;
  SetWindowLongPtrW(dlg.Hwnd, GWLP_USERDATA, 0);
  DestroyWindow(dlg.Hwnd);
  if (quit) PostQuitMessage(static_cast<int>(quitCode)); // the program is ending: pass it on
  return result;
}

} // namespace hb::win
