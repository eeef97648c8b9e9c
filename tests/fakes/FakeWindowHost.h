#pragma once
// IWindowHost for tests: a configurable set of monitors, the main window's placements, the
// cover's visibility, the pointer, and every popup created with what happened to it.
#include <memory>
#include <vector>

#include "IWindowHost.h"

namespace hb::test {

// What a popup went through; kept by the host after the popup itself is destroyed.
struct TFakePopupState {
  IPopupClient* Client = nullptr;
  TRect Bounds;
  bool Visible = false;
  bool Destroyed = false;
  int Shows = 0;
  int Hides = 0;
  int Invalidates = 0;
};

class TFakePopupWindow : public IPopupWindow {
 public:
  explicit TFakePopupWindow(std::shared_ptr<TFakePopupState> state) : FState(std::move(state)) {}
  ~TFakePopupWindow() override {
    FState->Destroyed = true;
    FState->Visible = false;
    FState->Client = nullptr;
  }
  void SetBounds(const TRect& screenBounds) override { FState->Bounds = screenBounds; }
  void Show() override {
    FState->Visible = true;
    ++FState->Shows;
  }
  void Hide() override {
    FState->Visible = false;
    ++FState->Hides;
  }
  bool Visible() const override { return FState->Visible; }
  void Invalidate() override { ++FState->Invalidates; }

 private:
  std::shared_ptr<TFakePopupState> FState;
};

class TFakeWindowHost : public IWindowHost {
 public:
  TFakeWindowHost() { MonitorList.push_back({{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96}); }

  std::vector<TMonitor> MonitorList;
  std::vector<TRect> Placements;
  TSize Client{1920, 1080};
  bool Cover = false;
  int CoverInvalidations = 0;
  TPoint Cursor{100, 100};
  int BringToFronts = 0;
  int Closes = 0;
  std::vector<std::shared_ptr<TFakePopupState>> Popups;

  std::vector<TMonitor> Monitors() override { return MonitorList; }
  void PlaceWindow(const TRect& bounds) override {
    Placements.push_back(bounds);
    Client = {bounds.Width, bounds.Height};
  }
  TSize ClientSize() override { return Client; }
  void SetCoverVisible(bool visible) override { Cover = visible; }
  bool CoverVisible() const override { return Cover; }
  void InvalidateCover() override { ++CoverInvalidations; }
  TPoint CursorPos() override { return Cursor; }
  // The monitor containing p, else the one whose bounds are closest, as the system picks.
  TMonitor MonitorNearest(TPoint p) override {
    const TMonitor* best = nullptr;
    long long bestDistance = 0;
    for (const TMonitor& m : MonitorList) {
      const long long dx = p.X < m.Bounds.Left       ? m.Bounds.Left - p.X
                           : p.X >= m.Bounds.Right() ? p.X - m.Bounds.Right() + 1
                                                     : 0;
      const long long dy = p.Y < m.Bounds.Top         ? m.Bounds.Top - p.Y
                           : p.Y >= m.Bounds.Bottom() ? p.Y - m.Bounds.Bottom() + 1
                                                      : 0;
      const long long d = dx * dx + dy * dy;
      if (!best || d < bestDistance) {
        best = &m;
        bestDistance = d;
      }
    }
    return best ? *best : TMonitor{};
  }
  std::unique_ptr<IPopupWindow> CreatePopup(IPopupClient& client) override {
    auto state = std::make_shared<TFakePopupState>();
    state->Client = &client;
    Popups.push_back(state);
    return std::make_unique<TFakePopupWindow>(state);
  }
  void BringToFront() override { ++BringToFronts; }
  void Close() override { ++Closes; }
};

} // namespace hb::test
