#include "platform/testing/virtual_clock.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(VirtualClock, SleepAdvancesWallAndMonotonicTimeAtOnce) {
  VirtualClock clock(1000);
  clock.SleepMs(30000);
  clock.SleepMs(500);
  EXPECT_EQ(clock.WallSeconds(), 1030);
  EXPECT_EQ(clock.MonotonicMs(), 30500u);
  EXPECT_EQ(clock.SleepCount(), 2u);
  EXPECT_EQ(clock.TotalSleptMs(), 30500u);
}

TEST(VirtualClock, WallClockCanGoBackWithoutMovingMonotonicTime) {
  VirtualClock clock(5000);
  clock.SleepMs(1000);
  clock.SetWallSeconds(100);
  EXPECT_EQ(clock.WallSeconds(), 100);
  EXPECT_EQ(clock.MonotonicMs(), 1000u);
}

TEST(CivilFromSeconds, KnownDates) {
  struct Case {
    int64_t seconds;
    LocalTime expected;
  } cases[] = {
      {0, {1970, 1, 1, 0, 0, 0}},
      {951782400, {2000, 2, 29, 0, 0, 0}},  // leap day of a century leap year
      {1275441273, {2010, 6, 2, 1, 14, 33}},
      {1798761599, {2026, 12, 31, 23, 59, 59}},
  };
  for (const Case& c : cases) {
    LocalTime t = CivilFromSeconds(c.seconds);
    EXPECT_EQ(t.year, c.expected.year) << c.seconds;
    EXPECT_EQ(t.month, c.expected.month) << c.seconds;
    EXPECT_EQ(t.day, c.expected.day) << c.seconds;
    EXPECT_EQ(t.hour, c.expected.hour) << c.seconds;
    EXPECT_EQ(t.minute, c.expected.minute) << c.seconds;
    EXPECT_EQ(t.second, c.expected.second) << c.seconds;
  }
}

}  // namespace
}  // namespace platform
