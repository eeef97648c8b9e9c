#pragma once
// Shortened waits for the soak run (bench/soak.sh), which packs a month of outages, restarts and
// pauses into minutes. Only a build that is not a release build (HALLBOARD_RELEASE off) can
// shorten them: there SetTestTimeDivisor exists and the Linux shell honours
// HALLBOARD_TEST_TIME_DIVISOR; in a release build ScaledMs returns its argument and nothing can
// change that.
#include <cstdint>

namespace hb {

#if HB_TEST_TIMERS
// Divides the countdown's tick and the gateway cache's pauses by `divisor` (1: as built).
// Set once at start, before the window exists.
void SetTestTimeDivisor(uint32_t divisor);
#endif

// The wait `ms`, shortened when a test divisor is set; never below 1 ms.
uint64_t ScaledMs(uint64_t ms);

// A deadline for work outside the program (a browser starting, a page loading), shortened like
// ScaledMs but never below kShortestTestDeadlineMs (nor above `ms`): the divisor shortens the
// program's own waits, not how long a loaded test machine takes to start a browser, and a
// deadline shorter than that would fail runs that are merely slow.
constexpr uint64_t kShortestTestDeadlineMs = 20000;
uint64_t ScaledDeadlineMs(uint64_t ms);

} // namespace hb
