#pragma once
// The platform library's own helper for bounded lock waits; not for use outside platform/.
#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace platform::internal {

enum class LockAttempt { kTaken, kBusy, kFailed };

// Repeats a non-blocking attempt until it is taken or fails, sleeping on the clock between tries
// for at most timeoutMs in all; true when taken.
bool RetryLockUntil(Clock& clock, uint32_t timeoutMs, const std::function<LockAttempt()>& attempt);

}  // namespace platform::internal
