#pragma once
#include "sdrtool/error_catalogue.h"
#include "sdrtool/sdr_record.h"

namespace veltrop {

class SdrRun;

// How many commits are sent while the active repository does not show the new records.
constexpr int kCommitAttempts = 3;

// Releases the update lock with "success", which makes the spared repository the active one,
// and confirms it where it counts: the active repository, read with the standard commands,
// must hold exactly these records (record IDs aside). A commit acknowledged but not carried out
// is sent again (kCommitAttempts in all); then what it left pending is discarded and error 77
// reported. kNone once confirmed, with the lock free; else kAlreadyReported, the lock
// discarded.
SdrError CommitUpdate(SdrRun& run, const SdrRecordList& records);

}  // namespace veltrop
