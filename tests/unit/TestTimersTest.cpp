// The soak run's shortened waits: divided as asked, never down to nothing, and back to the built
// length with a divisor of 1.
#include <gtest/gtest.h>

#include "shell/TestTimers.h"

namespace hb::test {
namespace {

#if HB_TEST_TIMERS
TEST(TestTimersTest, DividesWaitsButNeverToZero) {
  struct TCase {
    uint32_t Divisor;
    uint64_t Ms, Expected;
  };
  const TCase cases[] = {
      {1, 30000, 30000}, {30, 30000, 1000}, {30, 600000, 20000}, {1000, 1000, 1},
      {1000, 999, 1},    {30, 0, 0},        {0, 60000, 60000},
  };
  for (const auto& c : cases) {
    SetTestTimeDivisor(c.Divisor);
    EXPECT_EQ(ScaledMs(c.Ms), c.Expected) << c.Divisor << " " << c.Ms;
  }
  SetTestTimeDivisor(1);
}

// Deadlines shrink with the divisor but keep room for a slow machine's browser start, and a
// deadline already shorter than that room is left as it is.
TEST(TestTimersTest, DeadlinesKeepRoomForASlowMachine) {
  struct TCase {
    uint32_t Divisor;
    uint64_t Ms, Expected;
  };
  const TCase cases[] = {
      {1, 60000, 60000},
      {2, 60000, 30000},
      {10, 60000, kShortestTestDeadlineMs},
      {1000, 60000, kShortestTestDeadlineMs},
      {10, 5000, 5000},
      {10, 300000, 30000},
  };
  for (const auto& c : cases) {
    SetTestTimeDivisor(c.Divisor);
    EXPECT_EQ(ScaledDeadlineMs(c.Ms), c.Expected) << c.Divisor << " " << c.Ms;
  }
  SetTestTimeDivisor(1);
}

TEST(TestTimersTest, PageLoadWaitsHaveTheirOwnDivisor) {
  // A run that shortens the countdown sixty-fold must not shorten a page load with it.
  SetTestTimeDivisor(60);
  EXPECT_EQ(ScaledLoadMs(60000), 60000u);
  SetTestLoadDivisor(6);
  EXPECT_EQ(ScaledLoadMs(60000), 10000u);
  EXPECT_EQ(ScaledMs(60000), 1000u);
  SetTestLoadDivisor(0);
  EXPECT_EQ(ScaledLoadMs(91500), 91500u);
  SetTestTimeDivisor(1);
}
#endif

} // namespace
} // namespace hb::test
