#pragma once
#include "platform/clock.h"

namespace platform {

// Test clock: sleeping advances time at once. Local time is derived from the wall seconds
// as UTC so that tests see predictable stamps.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(int64_t wallSeconds = 1288000000);
  LocalTime Local() override;
  int64_t WallSeconds() override { return wallMs_ / 1000; }
  uint64_t MonotonicMs() override { return monotonicMs_; }
  void SleepMs(uint32_t ms) override;

  void Advance(uint64_t ms);
  // Moves the wall clock only, as when an operator sets the time.
  void SetWallSeconds(int64_t seconds) { wallMs_ = seconds * 1000; }
  uint64_t TotalSleptMs() const { return sleptMs_; }
  unsigned SleepCount() const { return sleepCount_; }

 private:
  int64_t wallMs_;
  uint64_t monotonicMs_ = 0;
  uint64_t sleptMs_ = 0;
  unsigned sleepCount_ = 0;
};

// Converts seconds since the epoch to a calendar date and time (UTC).
LocalTime CivilFromSeconds(int64_t seconds);

}  // namespace platform
