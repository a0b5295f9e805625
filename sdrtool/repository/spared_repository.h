#pragma once
#include <cstdint>

#include "ipmi/command.h"
#include "ipmi/sdr_repository_commands.h"
#include "sdrtool/command_sender.h"
#include "sdrtool/error_catalogue.h"

namespace veltrop {

class SdrRun;

// How long an erase may take before it counts as failed.
constexpr uint64_t kEraseTimeLimitMs = 10 * 60 * 1000;

// Takes the spared repository's update lock. The run counts the lock as held from the request
// on: a refusal, or a request that never reached the BMC, leaves it free; an answer that never
// came back whole may hide a lock the BMC did grant, so the lock is discarded at once. True when
// the lock is taken.
bool TakeUpdateLock(SdrRun& run);
// Releases the lock: committing makes the spared repository the active one, discarding drops
// what was written. The run counts the lock as free once a discarding release was sent; after a
// commit, only once the active repository shows it (the caller's to judge: a BMC may
// acknowledge a commit it never carries out). A commit's answer that is no answer of the
// request is reported as error 29.
ipmi::Outcome<ipmi::Done> ReleaseUpdateLock(SdrRun& run, ipmi::LockMode mode);
// One best-effort discarding release over a path opened again after a teardown. A BMC that
// holds no lock refuses it; that is the expected answer then, so no refusal is reported.
void DiscardUpdateLock(SdrRun& run);

// Erases the spared repository, polling until the BMC says the erase is complete. True once it
// is; failures the log does not show yet are for the caller to report.
bool ClearSparedSdr(SdrRun& run);
// Writes one record (5-byte header and body) with Partial Add in 16-byte chunks. kNone;
// kInvalidRecordLength for a body above 64 bytes (nothing sent); else kAlreadyReported.
SdrError PartialAddSparedSdr(SdrRun& run, const uint8_t* record);

// Reserves the spared or the active repository. An answer too short (or too long) to be a
// reservation ID is reported as error 5; the sender reports the rest.
ipmi::Outcome<uint16_t> ReserveRepository(SdrRun& run, ipmi::Repository repository, SendOptions options);

}  // namespace veltrop
