#include "shell/TestTimers.h"

#include <atomic>

namespace hb {

#if HB_TEST_TIMERS
namespace {
// Read by fetch threads (the cache's pauses) as well as the user-interface thread.
std::atomic<uint32_t> Divisor{1};
std::atomic<uint32_t> LoadDivisor{1};

uint64_t Divided(uint64_t ms, uint64_t d) {
  return d <= 1 || ms == 0 ? ms : (ms / d ? ms / d : 1);
}
} // namespace

void SetTestTimeDivisor(uint32_t divisor) {
  Divisor.store(divisor ? divisor : 1);
}

void SetTestLoadDivisor(uint32_t divisor) {
  LoadDivisor.store(divisor ? divisor : 1);
}

uint64_t ScaledMs(uint64_t ms) {
  return Divided(ms, Divisor.load());
}

uint64_t ScaledLoadMs(uint64_t ms) {
  return Divided(ms, LoadDivisor.load());
}
#else
uint64_t ScaledMs(uint64_t ms) {
  return ms;
}

uint64_t ScaledLoadMs(uint64_t ms) {
  return ms;
}
#endif

uint64_t ScaledDeadlineMs(uint64_t ms) {
  const uint64_t floor = ms < kShortestTestDeadlineMs ? ms : kShortestTestDeadlineMs;
  const uint64_t scaled = ScaledMs(ms);
  return scaled < floor ? floor : scaled;
}

} // namespace hb
