#pragma once
#include <cstdint>

namespace platform {

struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-59
};

// Every wait and time reading of the programs goes through a Clock, so tests can run the
// long waits (30-second rule, 10-second end pause, poll loops) on a virtual clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Local() = 0;
  // Seconds since the epoch; may jump when the wall clock is set.
  virtual int64_t WallSeconds() = 0;
  // Milliseconds since an arbitrary start; never goes back.
  virtual uint64_t MonotonicMs() = 0;
  // Blocks without spinning.
  virtual void SleepMs(uint32_t ms) = 0;
};

// The operating system's clock.
Clock& SystemClock();

}  // namespace platform
