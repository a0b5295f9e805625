#include "sdrtool/repository/repository_commands.h"

#include <cstdio>
#include <string>

#include "ipmi/sdr_repository_commands.h"
#include "sdrtool/repository/with_reservation.h"
#include "sdrtool/sdr_record.h"
#include "sdrtool/sdr_run.h"

namespace veltrop {
namespace {

constexpr uint8_t kChunkBytes = 16;

}  // namespace

bool GetSdrRecord(SdrRun& run, uint16_t* recordId, wire::Bytes* record, CommandCheck* check) {
  // The version query must not disturb an update that may hold reservations of its own.
  const int maxPasses = run.settings.mode == ModeVersion ? 1 : kReservationRetryLimit + 1;
  const ipmi::Command<uint16_t> reserve = ipmi::ReserveRepository(ipmi::Repository::kActive);
  ipmi::Outcome<uint16_t> reserved = SendChecked(run.commands, reserve, check);
  if (!reserved) return false;
  SendOptions lossExpected;
  lossExpected.reservationLossExpected = true;

  int passes = 0;
  // One pass per reservation, always from the record's start.
  auto pass = [&]() -> ReservedPass {
    if (passes++ > 0) {
      reserved = SendChecked(run.commands, reserve, check);
      if (!reserved) return ReservedPass::kFailed;
    }
    record->clear();
    uint8_t count = kSdrHeaderBytes;
    size_t total = 0;
    for (;;) {
      const uint8_t offset = static_cast<uint8_t>(record->size());
      const ipmi::Outcome<ipmi::RecordPart> part = run.commands.Send(
          ipmi::GetSdr(ipmi::Repository::kActive, reserved.value, *recordId, offset, count), lossExpected);
      if (!part) {
        const ipmi::Outcome<ipmi::Done> failure = part.As<ipmi::Done>();
        // Without an answer there is nothing to check. A completion code counts as refused here,
        // also the 0xC5 that leads to another pass.
        if (failure.failure != ipmi::Failure::kCompletionCode && !NotTheCommandsAnswer(failure)) {
          return ReservedPass::kFailed;
        }
        *check = CheckOf(failure);
        return part.Refused(ipmi::kCcReservationCancelled) ? ReservedPass::kReservationLost
                                                           : ReservedPass::kFailed;
      }
      record->insert(record->end(), part.value.bytes.begin(), part.value.bytes.end());
      if (offset == 0) total = kSdrHeaderBytes + SdrBodyLength(*record);
      if (record->size() >= total) {
        *recordId = part.value.nextRecordId;
        return ReservedPass::kDone;
      }
      count =
          static_cast<uint8_t>(total - record->size() < kChunkBytes ? total - record->size() : kChunkBytes);
    }
  };
  return WithReservation(maxPasses, pass) == ReservedOutcome::kDone;
}

SdrError ReportCommandError(SdrRun& run, const char* commandName, const CommandCheck& check) {
  char value[8];
  std::snprintf(value, sizeof value, "%02X", check.value);
  std::string detail = std::string("Command: ") + commandName;
  switch (check.kind) {
    case CommandCheck::kNetFn:
      detail += std::string(" illegal NetFn : ") + value + " h";
      break;
    case CommandCheck::kCompletion:
      detail += std::string(" illegal Completion Code : ") + value + " h";
      break;
    case CommandCheck::kLength:
      detail += std::string(" illegal Size : ") + value + " h";
      break;
    default:
      break;
  }
  return run.errors.Report(SdrError::kBackupCommandError, 0, detail.c_str());
}

}  // namespace veltrop
