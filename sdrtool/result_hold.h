#pragma once
#include <cstdint>

#include "platform/clock.h"

namespace veltrop {

// The 30-second rule of a managed update: its final result file appears no sooner than 30 s
// after the first "OK" one, written at startSeconds. Sleeps the rest of the 30 s (at most 30 s,
// also when the clock went back).
void HoldBackUpdateResult(platform::Clock& clock, int64_t startSeconds);

}  // namespace veltrop
