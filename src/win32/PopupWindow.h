#pragma once
// The seat-map menu's native window: borderless, top-most, drop-shadowed, rounded where the
// system offers it, owned by the main window; paint and input go to the core's IPopupClient.
#include <windows.h>

#include "IWindowHost.h"

namespace hb::win {

class TPopupWindow : public IPopupWindow {
 public:
  TPopupWindow(HWND owner, IPopupClient& client);
  ~TPopupWindow() override;
  void SetBounds(const TRect& screenBounds) override;
  void Show() override;
  void Hide() override;
  bool Visible() const override;
  void Invalidate() override;
  HWND Handle() const { return FHwnd; }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT m, WPARAM wp, LPARAM lp, bool& handled);
  HWND FHwnd = nullptr;
  IPopupClient& FClient;
  int FWheel = 0; // wheel movement not yet a whole notch
};

} // namespace hb::win
