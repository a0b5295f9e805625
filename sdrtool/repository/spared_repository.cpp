#include "sdrtool/repository/spared_repository.h"

#include <algorithm>

#include "sdrtool/repository/command_codes.h"
#include "sdrtool/repository/with_reservation.h"
#include "sdrtool/sdr_record.h"
#include "sdrtool/sdr_run.h"

namespace veltrop {
namespace {

constexpr uint8_t kEraseStart = 0xAA;
constexpr uint8_t kEraseStatus = 0x00;
constexpr uint8_t kEraseCompleted = 0x01;
constexpr uint32_t kErasePollMs = 500;
constexpr int kChunkBytes = 16;

SendOptions LossExpected() {
  SendOptions options;
  options.reservationLossExpected = true;
  return options;
}

wire::Bytes EraseRequest(uint16_t reservation, uint8_t action) {
  wire::ByteWriter request = Request(kOemRequest, kCmdSparedClear);
  request.U16(reservation).Append("CLR").U8(action);
  return request.Take();
}

}  // namespace

int ReserveRepository(SdrRun& run, bool spared, uint16_t* reservation, SendOptions options) {
  const wire::ByteWriter request =
      spared ? Request(kOemRequest, kCmdSparedReserve) : Request(kStorageRequest, kCmdReserveSdrRepository);
  CommandReply reply;
  const int result = run.commands.Send(request.bytes(), &reply, options);
  if (result != 0) return result;
  // Without this check the ID would come from whatever an earlier answer left.
  if (!reply.Data().U16(reservation)) {
    run.errors.Report(5);
    return kAlreadyReported;
  }
  return 0;
}

int SetSparedSdrLock(SdrRun& run, uint8_t mode) {
  wire::ByteWriter request = Request(kOemRequest, kCmdSparedLock);
  request.U8(mode);
  CommandReply reply;
  SendOptions options;
  options.kind.lockable = mode == kLockTake;
  return run.commands.Send(request.bytes(), &reply, options);
}

int ClearSparedSdr(SdrRun& run) {
  uint16_t reservation = 0;
  int result = 0;
  CommandReply reply;
  const ReservedOutcome started = WithReservation(kReservationRetryLimit, [&]() {
    if (ReserveRepository(run, true, &reservation, LossExpected()) != 0) return ReservedPass::kFailed;
    SendOptions eraseStart = LossExpected();
    eraseStart.kind.forgivable = true;
    result = run.commands.Send(EraseRequest(reservation, kEraseStart), &reply, eraseStart);
    // A transport failure is taken as a started erase: a slow erase start may outlast the
    // driver while the BMC goes on; the status requests tell.
    if (result == 0 || result == 28 || result == 29) return ReservedPass::kDone;
    return ReservationLost(result, reply) ? ReservedPass::kReservationLost : ReservedPass::kFailed;
  });
  if (started == ReservedOutcome::kFailed) return kAlreadyReported;
  if (started == ReservedOutcome::kAttemptsExhausted) {
    run.errors.Report(27, 0, "Clear SDR repository");
    return kAlreadyReported;
  }

  uint8_t status = 0;
  if (result == 0 && reply.Data().U8(&status) && status == kEraseCompleted) return 0;
  const wire::Bytes statusRequest = EraseRequest(reservation, kEraseStatus);
  // Bounded, so a BMC that never finishes cannot hold the update forever.
  const uint64_t deadline = run.ctx.clock.MonotonicMs() + kEraseTimeLimitMs;
  for (;;) {
    if (run.ctx.clock.MonotonicMs() >= deadline) {
      run.Log("Clear SDR repository: erase not completed within 600 seconds");
      return kAlreadyReported;
    }
    if (run.ctx.StopRequested()) return kAlreadyReported;
    run.ctx.clock.SleepMs(kErasePollMs);
    if (run.commands.Send(statusRequest, &reply, LossExpected()) != 0) return kAlreadyReported;
    if (reply.length != 4) return 29;
    if (reply.CompletionCode() == 0 && reply.bytes[3] == kEraseCompleted) return 0;
  }
}

int PartialAddSparedSdr(SdrRun& run, const uint8_t* record) {
  const int body = record[4];
  if (body > kMaxSdrBodyBytes) return 58;
  const int total = body + kSdrHeaderBytes;

  const ReservedOutcome outcome = WithReservation(kReservationRetryLimit, [&]() {
    uint16_t reservation = 0;
    if (ReserveRepository(run, true, &reservation, LossExpected()) != 0) return ReservedPass::kFailed;
    // Record ID 0000 asks the BMC for a new record; it names the record from the first chunk on.
    uint16_t recordId = 0x0000;
    for (int offset = 0; offset < total; offset += kChunkBytes) {
      const int count = std::min(kChunkBytes, total - offset);
      const bool last = offset + count == total;
      wire::ByteWriter request = Request(kOemRequest, kCmdSparedPartialAdd);
      request.U16(reservation).U16(recordId).U8(static_cast<uint8_t>(offset)).U8(last ? 0x01 : 0x00);
      request.Append(record + offset, static_cast<size_t>(count));
      CommandReply reply;
      SendOptions chunk = LossExpected();
      chunk.kind.forgivable = last;
      const int result = run.commands.Send(request.bytes(), &reply, chunk);
      if (result != 0)
        return ReservationLost(result, reply) ? ReservedPass::kReservationLost : ReservedPass::kFailed;
      // The later chunks must address the record the BMC has just opened.
      if (offset == 0 && !last && !reply.Data().U16(&recordId)) {
        run.errors.Report(5);
        return ReservedPass::kFailed;
      }
    }
    return ReservedPass::kDone;
  });
  if (outcome == ReservedOutcome::kDone) return 0;
  if (outcome == ReservedOutcome::kAttemptsExhausted) run.errors.Report(27, 0, "Partial Add SDR");
  return kAlreadyReported;
}

}  // namespace veltrop
