#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <thread>

#include "platform/clock.h"
#include "platform/interrupt.h"

namespace {

// The product's handlers for the test's duration; the process's own ones afterwards.
class InstalledHandlers {
 public:
  InstalledHandlers() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], nullptr, &saved_[i]);
    platform::InstallInterruptHandlers();
    platform::ClearInterrupt();
  }
  ~InstalledHandlers() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
    platform::ClearInterrupt();
  }

 private:
  static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction saved_[3]{};
};

// A request cuts the sleep it meets short; the sleeps of the cleanup that follows last their
// time however many requests come after.
TEST(InterruptedSleep, FirstRequestCutsASleepLaterOnesDoNot) {
  struct Case {
    bool requestedBefore;
    int signal;
    uint32_t sleepMs;
    bool cut;
  };
  const Case cases[] = {
      {false, SIGINT, 5000, true},
      {false, SIGTERM, 5000, true},
      {false, SIGHUP, 5000, true},
      {true, SIGINT, 300, false},
  };
  platform::Clock& clock = platform::SystemClock();
  for (const Case& c : cases) {
    InstalledHandlers handlers;
    if (c.requestedBefore) platform::RequestInterrupt();
    const pthread_t sleeper = pthread_self();
    std::thread sender([&] {
      clock.SleepMs(50);
      pthread_kill(sleeper, c.signal);
    });
    const uint64_t start = clock.MonotonicMs();
    clock.SleepMs(c.sleepMs);
    const uint64_t slept = clock.MonotonicMs() - start;
    sender.join();
    EXPECT_TRUE(platform::InterruptRequested()) << c.signal;
    if (c.cut) {
      EXPECT_LT(slept, 2000u) << c.signal;
    } else {
      EXPECT_GE(slept, c.sleepMs) << c.signal;
    }
  }
}

}  // namespace
