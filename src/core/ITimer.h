#pragma once
// A window-message style timer: ticks on the user-interface thread while enabled.
#include <cstdint>
#include <functional>
#include <memory>

namespace hb {

class ITimer {
public:
  virtual ~ITimer() = default;
  virtual void SetInterval(uint32_t ms) = 0;
  virtual uint32_t Interval() const = 0;
  // Enabling a timer that already runs keeps its phase; disabling stops further ticks.
  virtual void SetEnabled(bool on) = 0;
  virtual bool Enabled() const = 0;
  // Runs on the user-interface thread every Interval() milliseconds while enabled.
  std::function<void()> OnTick;
};

using TTimerFactory = std::function<std::unique_ptr<ITimer>()>;

} // namespace hb
