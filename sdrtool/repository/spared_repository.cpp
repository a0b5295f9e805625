#include "sdrtool/repository/spared_repository.h"

#include <algorithm>

#include "sdrtool/command_errors.h"
#include "sdrtool/repository/with_reservation.h"
#include "sdrtool/sdr_record.h"
#include "sdrtool/sdr_run.h"
#include "transport/ipmi_exchange.h"

namespace veltrop {
namespace {

constexpr uint32_t kErasePollMs = 500;
constexpr int kChunkBytes = 16;

SendOptions LossExpected() {
  SendOptions options;
  options.reservationLossExpected = true;
  return options;
}

}  // namespace

ipmi::Outcome<uint16_t> ReserveRepository(SdrRun& run, ipmi::Repository repository, SendOptions options) {
  const ipmi::Outcome<uint16_t> reserved = run.commands.Send(ipmi::ReserveRepository(repository), options);
  // Without this check the ID would be taken from an answer that does not hold one.
  if (NotTheCommandsAnswer(reserved.As<ipmi::Done>()))
    run.errors.Report(MalformedAnswerError(AnswerUse::kReservationId));
  return reserved;
}

bool TakeUpdateLock(SdrRun& run) {
  run.updateLockHeld = true;
  const ipmi::Outcome<ipmi::Done> taken = run.commands.Send(ipmi::SparedUpdateLock(ipmi::LockMode::kTake));
  if (taken) return true;
  if (NotTheCommandsAnswer(taken)) run.errors.Report(MalformedAnswerError(AnswerUse::kUpdateLock));
  if (MayHaveBeenCarriedOut(taken)) {
    DiscardUpdateLock(run);
  } else {
    run.updateLockHeld = false;
  }
  return false;
}

ipmi::Outcome<ipmi::Done> ReleaseUpdateLock(SdrRun& run, ipmi::LockMode mode) {
  const ipmi::Outcome<ipmi::Done> released = run.commands.Send(ipmi::SparedUpdateLock(mode));
  if (mode == ipmi::LockMode::kReleaseCommitting && NotTheCommandsAnswer(released)) {
    run.errors.Report(MalformedAnswerError(AnswerUse::kUpdateLock));
  }
  if (mode == ipmi::LockMode::kReleaseDiscarding) run.updateLockHeld = false;
  return released;
}

void DiscardUpdateLock(SdrRun& run) {
  // A failed call of the Microsoft driver tore its path down; the release needs it once more.
  transport::ReopenAfterTeardown(run.ctx.transport);
  SendOptions quiet;
  quiet.quietCompletion = true;
  run.commands.Send(ipmi::SparedUpdateLock(ipmi::LockMode::kReleaseDiscarding), quiet);
  run.updateLockHeld = false;
}

bool ClearSparedSdr(SdrRun& run) {
  uint16_t reservation = 0;
  ipmi::Outcome<uint8_t> start;
  const ReservedOutcome started = WithReservation(kReservationRetryLimit, [&]() {
    const ipmi::Outcome<uint16_t> reserved =
        ReserveRepository(run, ipmi::Repository::kSpared, LossExpected());
    if (!reserved) return ReservedPass::kFailed;
    reservation = reserved.value;
    start = run.commands.Send(ipmi::SparedClear(reservation, ipmi::EraseStep::kStart), LossExpected());
    if (start.Refused(ipmi::kCcReservationCancelled)) return ReservedPass::kReservationLost;
    // Only a refusal stops the erase. A slow erase start may outlast the driver while the BMC
    // goes on, and a start the Microsoft driver forgave comes back without its status: the
    // status requests tell.
    return start.failure == ipmi::Failure::kCompletionCode ? ReservedPass::kFailed : ReservedPass::kDone;
  });
  if (started == ReservedOutcome::kFailed) return false;
  if (started == ReservedOutcome::kAttemptsExhausted) {
    run.errors.Report(SdrError::kRetriesExhausted, 0, "Clear SDR repository");
    return false;
  }

  if (start && start.value == ipmi::kEraseCompleted) return true;
  // Bounded, so a BMC that never finishes cannot hold the update forever.
  const uint64_t deadline = run.ctx.clock.MonotonicMs() + kEraseTimeLimitMs;
  for (;;) {
    if (run.ctx.clock.MonotonicMs() >= deadline) {
      run.Log("Clear SDR repository: erase not completed within 600 seconds");
      return false;
    }
    if (run.ctx.StopRequested()) return false;
    run.ctx.clock.SleepMs(kErasePollMs);
    const ipmi::Outcome<uint8_t> status =
        run.commands.Send(ipmi::SparedClear(reservation, ipmi::EraseStep::kStatus), LossExpected());
    if (!status) return false;
    if (status.value == ipmi::kEraseCompleted) return true;
  }
}

SdrError PartialAddSparedSdr(SdrRun& run, const uint8_t* record) {
  const int body = record[kSdrHeaderBytes - 1];
  if (body > kMaxSdrBodyBytes) return SdrError::kInvalidRecordLength;
  const int total = body + kSdrHeaderBytes;

  const ReservedOutcome outcome = WithReservation(kReservationRetryLimit, [&]() {
    const ipmi::Outcome<uint16_t> reserved =
        ReserveRepository(run, ipmi::Repository::kSpared, LossExpected());
    if (!reserved) return ReservedPass::kFailed;
    // Record ID 0000 asks the BMC for a new record; it names the record from the first chunk on.
    uint16_t recordId = 0x0000;
    for (int offset = 0; offset < total; offset += kChunkBytes) {
      const int count = std::min(kChunkBytes, total - offset);
      const bool last = offset + count == total;
      const ipmi::Outcome<uint16_t> added =
          run.commands.Send(ipmi::SparedPartialAdd(reserved.value, recordId, static_cast<uint8_t>(offset),
                                                   last, record + offset, static_cast<uint8_t>(count)),
                            LossExpected());
      if (added.Refused(ipmi::kCcReservationCancelled)) return ReservedPass::kReservationLost;
      if (!added && !NotTheCommandsAnswer(added.As<ipmi::Done>())) return ReservedPass::kFailed;
      // Only the first answer of a record written in several chunks names something the write
      // needs: the record the later chunks address. (The answer to a last chunk the Microsoft
      // driver forgave names nothing.)
      if (offset == 0 && !last) {
        if (!added) {
          run.errors.Report(MalformedAnswerError(AnswerUse::kRecordId));
          return ReservedPass::kFailed;
        }
        recordId = added.value;
      }
    }
    return ReservedPass::kDone;
  });
  if (outcome == ReservedOutcome::kDone) return SdrError::kNone;
  if (outcome == ReservedOutcome::kAttemptsExhausted) {
    run.errors.Report(SdrError::kRetriesExhausted, 0, "Partial Add SDR");
  }
  return SdrError::kAlreadyReported;
}

}  // namespace veltrop
