#pragma once
// ITimer driven by a manual clock: TFakeClock::Advance fires every enabled timer's ticks.
#include <algorithm>
#include <memory>
#include <vector>

#include "ITimer.h"

namespace hb::test {

class TFakeClock;

class TFakeTimer : public ITimer {
public:
  explicit TFakeTimer(TFakeClock& clock) : FClock(clock) {}
  ~TFakeTimer() override;
  void SetInterval(uint32_t ms) override { FInterval = ms; }
  uint32_t Interval() const override { return FInterval; }
  void SetEnabled(bool on) override;
  bool Enabled() const override { return FEnabled; }
  uint64_t NextDue = 0;  // clock time of the next tick while enabled

private:
  TFakeClock& FClock;
  uint32_t FInterval = 1000;
  bool FEnabled = false;
};

class TFakeClock {
public:
  uint64_t Now = 0;
  std::vector<TFakeTimer*> Timers;
  TTimerFactory Factory() {
    return [this] { return std::make_unique<TFakeTimer>(*this); };
  }
  // Moves time forward by ms, firing due ticks in time order.
  void Advance(uint64_t ms) {
    uint64_t end = Now + ms;
    for (;;) {
      TFakeTimer* next = nullptr;
      for (TFakeTimer* t : Timers)
        if (t->Enabled() && t->NextDue <= end && (!next || t->NextDue < next->NextDue)) next = t;
      if (!next) break;
      Now = next->NextDue;
      next->NextDue += std::max<uint32_t>(1, next->Interval());
      if (next->OnTick) next->OnTick();
    }
    Now = end;
  }
};

inline TFakeTimer::~TFakeTimer() {
  auto& v = FClock.Timers;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

inline void TFakeTimer::SetEnabled(bool on) {
  if (on && !FEnabled) {
    NextDue = FClock.Now + std::max<uint32_t>(1, FInterval);
    if (std::find(FClock.Timers.begin(), FClock.Timers.end(), this) == FClock.Timers.end())
      FClock.Timers.push_back(this);
  }
  FEnabled = on;
}

} // namespace hb::test
