#pragma once
#include <cstdint>

#include "sdrtool/command_sender.h"

namespace veltrop {

class SdrRun;

// Update lock modes of the spared repository.
constexpr uint8_t kLockTake = 0x00;
constexpr uint8_t kLockReleaseFailed = 0x01;     // discards what was written
constexpr uint8_t kLockReleaseSucceeded = 0x02;  // commits what was written

// How long an erase may take before it counts as failed.
constexpr uint64_t kEraseTimeLimitMs = 10 * 60 * 1000;

// The update lock request: the Send result.
int SetSparedSdrLock(SdrRun& run, uint8_t mode);
// Erases the spared repository, polling until the BMC says the erase is complete. 0, 29 or 81.
int ClearSparedSdr(SdrRun& run);
// Writes one record (5-byte header and body) with Partial Add in 16-byte chunks. 0, 58 (body
// above 64 bytes, nothing sent) or 81.
int PartialAddSparedSdr(SdrRun& run, const uint8_t* record);

// Reserves the spared (F8 11) or the standard (28 22) repository. The Send result; an answer
// too short to carry a reservation ID is reported as 5 and gives 81.
int ReserveRepository(SdrRun& run, bool spared, uint16_t* reservation, SendOptions options);

}  // namespace veltrop
