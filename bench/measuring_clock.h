#pragma once
#include <sys/resource.h>

#include <cstdint>

#include "platform/clock.h"

namespace bench {

inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The system clock, measuring what the process burns while it is supposed to sleep.
class MeasuringClock : public platform::Clock {
 public:
  platform::LocalTime Local() override { return base_.Local(); }
  int64_t WallSeconds() override { return base_.WallSeconds(); }
  uint64_t MonotonicMs() override { return base_.MonotonicMs(); }
  void SleepMs(uint32_t ms) override {
    double before = CpuSeconds();
    base_.SleepMs(ms);
    cpuWhileSleeping += CpuSeconds() - before;
    sleptMs += ms;
    ++sleeps;
  }
  double cpuWhileSleeping = 0;
  uint64_t sleptMs = 0;
  unsigned sleeps = 0;

 private:
  platform::Clock& base_ = platform::SystemClock();
};

}  // namespace bench
