#pragma once
// Between the Windows clock and the console handler; not for use outside platform/.
#include <cstdint>

namespace platform::internal {

// Sleeps ms; a stop request from the console ends a sleep under way early, as a signal does on
// Linux. A sleep begun after the request (a cleanup's retry pause) lasts its time.
void SleepUnlessStopped(uint32_t ms);

}  // namespace platform::internal
