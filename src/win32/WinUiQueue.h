#pragma once
// IUiQueue and ITimer on one window of the user-interface thread: a queued procedure is a posted
// message carrying a heap copy of it; a timer is a window-message timer on the same window.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "ITimer.h"
#include "IUiQueue.h"

namespace hb::win {

constexpr UINT kUiQueueMessage = WM_APP + 0x48;

class TWinUiQueue : public IUiQueue {
 public:
  explicit TWinUiQueue(HWND target) : FTarget(target) {}
  ~TWinUiQueue() override { Shutdown(); }
  void Post(std::function<void()> proc) override;
  // From the window procedure, for kUiQueueMessage: runs (guarded) and frees the procedure;
  // after Shutdown it is only freed.
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  // The window is closing: frees what is still queued and drops every later Post.
  void Shutdown();

 private:
  HWND FTarget;
  std::mutex FLock; // Post against Shutdown: nothing is posted after the queue was emptied
  std::atomic<bool> FClosed{false};
};

class TWinTimer : public ITimer {
 public:
  explicit TWinTimer(HWND owner);
  ~TWinTimer() override;
  void SetInterval(uint32_t ms) override;
  uint32_t Interval() const override { return FInterval; }
  void SetEnabled(bool on) override;
  bool Enabled() const override { return FEnabled; }
  // From the owner's window procedure for WM_TIMER: true when the id was one of ours.
  static bool HandleTimer(WPARAM id);

 private:
  HWND FOwner;
  uint32_t FInterval = 1000;
  bool FEnabled = false;
};

} // namespace hb::win
