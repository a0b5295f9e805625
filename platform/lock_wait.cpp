#include "platform/lock_wait.h"

#include <algorithm>

namespace platform::internal {

bool RetryLockUntil(Clock& clock, uint32_t timeoutMs, const std::function<LockAttempt()>& attempt) {
  // Critical sections are short: first pauses are short, later ones long enough not to load the
  // machine while a holder is slow.
  constexpr uint32_t kLongestPauseMs = 25;
  const uint64_t start = clock.MonotonicMs();
  uint32_t pauseMs = 1;
  for (;;) {
    LockAttempt outcome = attempt();
    if (outcome != LockAttempt::kBusy) return outcome == LockAttempt::kTaken;
    uint64_t waitedMs = clock.MonotonicMs() - start;
    if (waitedMs >= timeoutMs) return false;
    clock.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(pauseMs, timeoutMs - waitedMs)));
    pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
  }
}

}  // namespace platform::internal
