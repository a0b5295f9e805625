#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/posix/stop_wait.h"

namespace platform {
namespace {

internal::BeforeWaitHook beforeWait = nullptr;

uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

class PosixClock : public Clock {
 public:
  LocalTime Local() override {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  }
  int64_t WallSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
  uint64_t MonotonicMs() override { return MonotonicNs() / 1000000u; }
  void SleepMs(uint32_t ms) override {
    const uint64_t deadline = MonotonicNs() + uint64_t{ms} * 1000000u;
    // The stop signals stay blocked from the look at the flag until the wait, which unblocks
    // them atomically: a request that comes in between is pending there and ends the wait at
    // once instead of being noticed only when the sleep is over.
    const sigset_t stopSignals = internal::StopSignals();
    sigset_t waitMask;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &waitMask);
    // A stop request cuts a sleep under way short: the run looks at it right after. A sleep
    // begun after it belongs to the cleanup (a retry pause), which further requests must not
    // shorten.
    const bool stopping = InterruptRequested();
    if (beforeWait) beforeWait();
    for (uint64_t now = MonotonicNs(); now < deadline; now = MonotonicNs()) {
      const uint64_t left = deadline - now;
      const timespec timeout{static_cast<time_t>(left / 1000000000u), static_cast<long>(left % 1000000000u)};
      if (ppoll(nullptr, 0, &timeout, &waitMask) == 0) break;
      // Any other signal interrupts the wait only: it goes on for the time that is left.
      if (errno != EINTR || (!stopping && InterruptRequested())) break;
    }
    pthread_sigmask(SIG_SETMASK, &waitMask, nullptr);
  }
};

}  // namespace

void internal::SetBeforeWaitHook(internal::BeforeWaitHook hook) {
  beforeWait = hook;
}

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace platform
