#include "sdrtool/programming/repository_switch.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "ipmi/sdr_repository_commands.h"
#include "sdrtool/command_errors.h"
#include "sdrtool/repository/record_chain.h"
#include "sdrtool/repository/spared_repository.h"
#include "sdrtool/repository/with_reservation.h"
#include "sdrtool/sdr_run.h"
#include "transport/ipmi_exchange.h"
#include "wire/hex_text.h"

namespace veltrop {
namespace {

constexpr uint8_t kChunkBytes = 16;

// The active repository's time stamps. A commit replaces the repository, which a BMC that
// keeps them shows as a later erase or addition.
struct Stamps {
  bool known = false;
  uint32_t addition = 0;
  uint32_t erase = 0;
};

bool ShowChange(const Stamps& before, const Stamps& after) {
  return before.known && after.known && (before.addition != after.addition || before.erase != after.erase);
}

enum class Check : uint8_t {
  kHolds,
  kDiffers,
  kUnread,  // a request failed: nothing is known
};

// The check's refusals and lost reservations are its own to judge: the log line says why.
SendOptions Quiet() {
  SendOptions options;
  options.quietCompletion = true;
  options.reservationLossExpected = true;
  return options;
}

std::string Why(const ipmi::Outcome<ipmi::Done>& failed) {
  switch (failed.failure) {
    case ipmi::Failure::kTransport:
      return "no answer";
    case ipmi::Failure::kCompletionCode:
      return "completion code " + wire::HexPair(failed.completionCode) + "h";
    default:
      return "not an answer of the command";
  }
}

void LogCheck(SdrRun& run, const char* format, unsigned a = 0, unsigned b = 0) {
  char line[160];
  std::snprintf(line, sizeof line, format, a, b);
  run.Log(std::string("Commit check: ") + line);
}

Stamps ReadStamps(SdrRun& run, uint16_t* recordCount) {
  Stamps stamps;
  const ipmi::Outcome<ipmi::RepositoryInfo> info = run.commands.Send(ipmi::GetSdrRepositoryInfo(), Quiet());
  if (!info) {
    run.Log("Commit check: Get SDR Repository Info: " + Why(info.As<ipmi::Done>()));
    return stamps;
  }
  stamps.known = true;
  stamps.addition = info.value.additionTimestamp;
  stamps.erase = info.value.eraseTimestamp;
  if (recordCount) *recordCount = info.value.recordCount;
  return stamps;
}

bool Reserve(SdrRun& run, uint16_t* reservation) {
  const ipmi::Outcome<uint16_t> reserved =
      run.commands.Send(ipmi::ReserveRepository(ipmi::Repository::kActive), Quiet());
  if (!reserved) {
    run.Log("Commit check: Reserve SDR Repository: " + Why(reserved.As<ipmi::Done>()));
    return false;
  }
  *reservation = reserved.value;
  return true;
}

// Reads the active repository record by record against the records written, each only as far
// as the written one goes (a longer or shorter record shows in its length byte or a refusal),
// and stops at the first difference. One reservation serves the whole read until it is lost.
Check ActiveHolds(SdrRun& run, const SdrRecordList& records, Stamps* stamps) {
  uint16_t count = 0;
  *stamps = ReadStamps(run, &count);
  // The count only spares reading a repository that cannot hold the records; without it the
  // records themselves tell, the end of their chain included.
  if (stamps->known && count != records.size()) {
    LogCheck(run, "the active SDR Repository holds %u records, %u were written", count,
             static_cast<unsigned>(records.size()));
    return Check::kDiffers;
  }
  uint16_t reservation = 0;
  if (!Reserve(run, &reservation)) return Check::kUnread;
  int renewals = 0;
  uint16_t recordId = kFirstRecordId;
  for (size_t i = 0; i < records.size();) {
    const SdrRecord& expected = records[i];
    const int total = std::min(expected.BodyLength() + kSdrHeaderBytes, kMaxSdrRecordBytes);
    const unsigned number = static_cast<unsigned>(i + 1);
    wire::Bytes bytes;
    uint16_t next = kLastRecordId;
    bool lost = false;
    for (int offset = 0; offset < total;) {
      const uint8_t chunk = static_cast<uint8_t>(std::min<int>(kChunkBytes, total - offset));
      const ipmi::Outcome<ipmi::RecordPart> part = run.commands.Send(
          ipmi::GetSdr(ipmi::Repository::kActive, reservation, recordId, static_cast<uint8_t>(offset), chunk),
          Quiet());
      if (part.Refused(ipmi::kCcReservationCancelled)) {
        lost = true;
        break;
      }
      if (!part) {
        run.Log("Commit check: Get SDR of record #" + std::to_string(number) + ": " +
                Why(part.As<ipmi::Done>()));
        return Check::kUnread;
      }
      bytes.insert(bytes.end(), part.value.bytes.begin(), part.value.bytes.end());
      next = part.value.nextRecordId;
      offset += chunk;
    }
    if (lost) {
      // The record again from its start, under a new reservation.
      if (++renewals > kReservationRetryLimit) {
        run.Log("Commit check: Get SDR: reservation lost too often");
        return Check::kUnread;
      }
      if (!Reserve(run, &reservation)) return Check::kUnread;
      continue;
    }
    // Record IDs are the BMC's to assign.
    for (int b = 2; b < total; ++b) {
      if (bytes[static_cast<size_t>(b)] != expected.bytes[b]) {
        LogCheck(run, "record #%u of the active SDR Repository differs at byte %u", number,
                 static_cast<unsigned>(b));
        return Check::kDiffers;
      }
    }
    const bool last = i + 1 == records.size();
    if (last != (next == kLastRecordId)) {
      LogCheck(run,
               last ? "the active SDR Repository's record chain goes on after record #%u"
                    : "the active SDR Repository's record chain ends at record #%u",
               number);
      return Check::kDiffers;
    }
    recordId = next;
    ++i;
  }
  return Check::kHolds;
}

}  // namespace

SdrError CommitUpdate(SdrRun& run, const SdrRecordList& records) {
  const Stamps before = ReadStamps(run, nullptr);
  Check last = Check::kUnread;
  for (int attempt = 1; attempt <= kCommitAttempts; ++attempt) {
    if (attempt == 1) {
      const ipmi::Outcome<ipmi::Done> committed = ReleaseUpdateLock(run, ipmi::LockMode::kReleaseCommitting);
      // A refusal (reported by the sender), or a request that never reached the BMC, committed
      // nothing: what is pending is dropped.
      if (!committed && !MayHaveBeenCarriedOut(committed)) {
        DiscardUpdateLock(run);
        return SdrError::kAlreadyReported;
      }
    } else {
      LogCheck(run, "the new records are not confirmed; commit again (%u of %u)",
               static_cast<unsigned>(attempt), static_cast<unsigned>(kCommitAttempts));
      transport::ReopenAfterTeardown(run.ctx.transport);
      // Refused when the last commit took effect after all (the lock is gone then): what
      // counts is the repository.
      SendOptions quiet;
      quiet.quietCompletion = true;
      run.commands.Send(ipmi::SparedUpdateLock(ipmi::LockMode::kReleaseCommitting), quiet);
    }
    Stamps after;
    last = ActiveHolds(run, records, &after);
    if (last == Check::kHolds) {
      // Records that were in use before the update look the same whether the commit happened
      // or not; where the stamps do not show it happened, a lock it left held is let go.
      if (!ShowChange(before, after)) {
        DiscardUpdateLock(run);
      } else {
        run.updateLockHeld = false;
      }
      run.Log("Commit check: the active SDR Repository holds the new records.");
      return SdrError::kNone;
    }
  }
  // A repository that could not be read may hold the new records all the same: the log says
  // which it was.
  run.Log("Commit check: after " + std::to_string(kCommitAttempts) + " commits " +
          (last == Check::kDiffers
               ? "the new records are not in use; what is pending is discarded."
               : "the active SDR Repository could not be read; the update is not confirmed."));
  run.errors.Report(SdrError::kSparedCommandUnsupported);
  DiscardUpdateLock(run);
  return SdrError::kAlreadyReported;
}

}  // namespace veltrop
