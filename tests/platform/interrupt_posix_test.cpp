#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <thread>

#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/posix/stop_wait.h"

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

// A signal that asks for nothing, caught without SA_RESTART as the stop signals are.
class UnrelatedSignalCaught {
 public:
  UnrelatedSignalCaught() {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &saved_);
  }
  ~UnrelatedSignalCaught() { sigaction(SIGUSR1, &saved_, nullptr); }

 private:
  struct sigaction saved_ {};
};

int signalInWindow = 0;

// A request that comes after the sleep looked at the flag and before it waits still ends the
// wait at once; a signal that asks for nothing neither ends a sleep nor shortens it.
TEST(InterruptedSleep, RequestBetweenTheLookAndTheWaitCutsItOtherSignalsDoNot) {
  struct Case {
    const char* name;
    bool requestedBefore;
    int signal;
    bool inWindow;  // else 50 ms into the wait
    uint32_t sleepMs;
    bool cut;
  };
  const Case cases[] = {
      {"SIGINT before the wait", false, SIGINT, true, 5000, true},
      {"SIGTERM before the wait", false, SIGTERM, true, 5000, true},
      {"SIGHUP before the wait", false, SIGHUP, true, 5000, true},
      {"a second request before a cleanup's wait", true, SIGINT, true, 300, false},
      {"another signal before the wait", false, SIGUSR1, true, 300, false},
      {"another signal during the wait", false, SIGUSR1, false, 300, false},
  };
  platform::Clock& clock = platform::SystemClock();
  for (const Case& c : cases) {
    InstalledHandlers handlers;
    UnrelatedSignalCaught unrelated;
    if (c.requestedBefore) platform::RequestInterrupt();
    const pthread_t sleeper = pthread_self();
    std::thread sender;
    if (c.inWindow) {
      signalInWindow = c.signal;
      platform::internal::SetBeforeWaitHook([] { pthread_kill(pthread_self(), signalInWindow); });
    } else {
      sender = std::thread([&] {
        clock.SleepMs(50);
        pthread_kill(sleeper, c.signal);
      });
    }
    const uint64_t start = clock.MonotonicMs();
    clock.SleepMs(c.sleepMs);
    const uint64_t slept = clock.MonotonicMs() - start;
    platform::internal::SetBeforeWaitHook(nullptr);
    if (sender.joinable()) sender.join();
    EXPECT_EQ(platform::InterruptRequested(), c.requestedBefore || c.signal != SIGUSR1) << c.name;
    if (c.cut) {
      EXPECT_LT(slept, 2000u) << c.name;
    } else {
      EXPECT_GE(slept, c.sleepMs) << c.name;
    }
  }
}

}  // namespace
