#include <ctime>
#include <cerrno>

#include "platform/clock.h"
#include "platform/interrupt.h"

namespace platform {
namespace {

class PosixClock : public Clock {
 public:
  LocalTime Local() override {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  }
  int64_t WallSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
  uint64_t MonotonicMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  }
  void SleepMs(uint32_t ms) override {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec rem{};
    // A stop request cuts a sleep under way short: the run looks at it right after. A sleep
    // begun after it belongs to the cleanup (a retry pause), which further requests must not
    // shorten.
    const bool stopping = InterruptRequested();
    while (nanosleep(&req, &rem) != 0 && errno == EINTR && (stopping || !InterruptRequested())) req = rem;
  }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace platform
