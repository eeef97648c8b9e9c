#include "WinUiQueue.h"

#include <memory>
#include <set>

#include "UiGuard.h"

namespace hb::win {

void TWinUiQueue::Post(std::function<void()> proc) {
  if (!proc) return;
  std::lock_guard<std::mutex> lock(FLock);
  if (FClosed) return;
  auto* item = new std::function<void()>(std::move(proc));
  if (!PostMessageW(FTarget, kUiQueueMessage, 0, reinterpret_cast<LPARAM>(item))) delete item;
}

bool TWinUiQueue::HandleMessage(UINT msg, WPARAM, LPARAM lp) {
  if (msg != kUiQueueMessage) return false;
  std::unique_ptr<std::function<void()>> item(reinterpret_cast<std::function<void()>*>(lp));
  if (item && !FClosed) Guarded([&] { (*item)(); });
  return true;
}

void TWinUiQueue::Shutdown() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FClosed.exchange(true)) return;
  MSG m;
  while (PeekMessageW(&m, FTarget, kUiQueueMessage, kUiQueueMessage, PM_REMOVE))
    delete reinterpret_cast<std::function<void()>*>(m.lParam);
}

namespace {
// The live timers of the user-interface thread; a WM_TIMER that arrives for a timer already
// destroyed finds nothing here and is ignored.
std::set<TWinTimer*>& LiveTimers() {
  static std::set<TWinTimer*> s;
  return s;
}
} // namespace

TWinTimer::TWinTimer(HWND owner) : FOwner(owner) {
  LiveTimers().insert(this);
}

TWinTimer::~TWinTimer() {
  SetEnabled(false);
  LiveTimers().erase(this);
}

void TWinTimer::SetInterval(uint32_t ms) {
  if (ms == FInterval) return;
  FInterval = ms;
  if (FEnabled) SetTimer(FOwner, reinterpret_cast<UINT_PTR>(this), FInterval, nullptr);
}

void TWinTimer::SetEnabled(bool on) {
  if (on == FEnabled) return; // enabling a running timer keeps its phase
  FEnabled = on;
  if (on) {
    if (!SetTimer(FOwner, reinterpret_cast<UINT_PTR>(this), FInterval, nullptr)) FEnabled = false;
  } else {
    KillTimer(FOwner, reinterpret_cast<UINT_PTR>(this));
  }
}

bool TWinTimer::HandleTimer(WPARAM id) {
  auto* t = reinterpret_cast<TWinTimer*>(id);
  if (!LiveTimers().count(t)) return false;
  if (!t->FEnabled || !t->OnTick) return true;
  auto tick = t->OnTick; // a copy: the tick may destroy the timer itself
  Guarded([&] { tick(); });
  return true;
}

} // namespace hb::win
