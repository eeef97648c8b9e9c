#pragma once
// The user-interface thread's queue and timers on the GLib main loop.
#include <atomic>
#include <memory>
#include <mutex>

#include "ITimer.h"
#include "IUiQueue.h"

namespace hb::lin {

// Post works from any thread (g_main_context_invoke_full on the default context, which queues
// when called off the owning thread). Once Shutdown has run, queued and later procedures are
// dropped: the window is closing and their results are no longer wanted.
class TGLibUiQueue : public IUiQueue {
 public:
  TGLibUiQueue();
  ~TGLibUiQueue() override;
  void Post(std::function<void()> proc) override;
  void Shutdown();

 private:
  struct TState {
    std::atomic<bool> Closed{false};
  };
  std::shared_ptr<TState> FState;
};

class TGLibTimer : public ITimer {
 public:
  TGLibTimer() = default;
  ~TGLibTimer() override;
  void SetInterval(uint32_t ms) override;
  uint32_t Interval() const override { return FInterval; }
  void SetEnabled(bool on) override;
  bool Enabled() const override { return FSource != 0; }

 private:
  static int Tick(void* self);
  void Start();
  void Stop();
  uint32_t FInterval = 1000;
  unsigned FSource = 0;
};

TTimerFactory GLibTimerFactory();

} // namespace hb::lin
