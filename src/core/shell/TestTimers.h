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
// Divides the waits of a page load by `divisor` (1: as built): the navigation deadline, its
// put-off while the gateway cache still holds requests, and the cache's own time-outs. Kept apart
// from the divisor above: runs that shorten the countdown and the pauses a great deal must not
// shorten a page load to a second or two as well. Set once at start, before the window exists.
void SetTestLoadDivisor(uint32_t divisor);
#endif

// The wait `ms`, shortened when a test divisor is set; never below 1 ms.
uint64_t ScaledMs(uint64_t ms);
// The page-load wait `ms`, shortened when a test load divisor is set; never below 1 ms.
uint64_t ScaledLoadMs(uint64_t ms);

// A deadline for work outside the program (a browser starting, a page loading), shortened like
// ScaledMs but never below kShortestTestDeadlineMs (nor above `ms`): the divisor shortens the
// program's own waits, not how long a loaded test machine takes to start a browser, and a
// deadline shorter than that would fail runs that are merely slow.
constexpr uint64_t kShortestTestDeadlineMs = 20000;
uint64_t ScaledDeadlineMs(uint64_t ms);

} // namespace hb
