#include "platform/testing/virtual_clock.h"

namespace platform {

VirtualClock::VirtualClock(int64_t wallSeconds) : wallMs_(wallSeconds * 1000) {}

LocalTime VirtualClock::Local() {
  return CivilFromSeconds(WallSeconds());
}

void VirtualClock::SleepMs(uint32_t ms) {
  ++sleepCount_;
  sleptMs_ += ms;
  Advance(ms);
}

void VirtualClock::Advance(uint64_t ms) {
  wallMs_ += static_cast<int64_t>(ms);
  monotonicMs_ += ms;
}

LocalTime CivilFromSeconds(int64_t seconds) {
  // Howard Hinnant's days-to-civil algorithm.
  int64_t days = seconds / 86400;
  int64_t rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  LocalTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
  t.hour = static_cast<int>(rem / 3600);
  t.minute = static_cast<int>(rem / 60 % 60);
  t.second = static_cast<int>(rem % 60);
  return t;
}

}  // namespace platform
