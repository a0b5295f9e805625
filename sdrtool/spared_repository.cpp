#include <algorithm>
#include <cstring>

#include "sdrtool/repository_commands.h"
#include "sdrtool/sdr_file.h"
#include "sdrtool/veltrop_run.h"

namespace veltrop {
namespace {

constexpr uint8_t kOemNetFn = 0xF8;
constexpr uint8_t kCmdLock = 0x10;
constexpr uint8_t kCmdPartialAdd = 0x13;
constexpr uint8_t kCmdClear = 0x14;
constexpr uint8_t kEraseStart = 0xAA;
constexpr uint8_t kEraseStatus = 0x00;
constexpr uint8_t kEraseCompleted = 0x01;
constexpr uint32_t kErasePollMs = 500;
constexpr int kChunkBytes = 16;

}  // namespace

int SDRFile::SetSparedSdrLock(uint8_t mode) {
  request_[0] = kOemNetFn;
  request_[1] = kCmdLock;
  request_[2] = mode;
  int length = 0;
  return SendCommand(request_, 3, response_, sizeof response_, &length);
}

int SDRFile::ClearSparedSdr() {
  VeltropRun& run = run_;
  ReservationLossExpected expectLoss(run);
  int attempts = 0;
  int length = 0;
  int result = 0;
  for (;;) {
    uint16_t reservation = 0;
    if (Reserve(true, &reservation) != 0) return kAlreadyReported;
    const uint8_t start[] = {kOemNetFn,
                             kCmdClear,
                             static_cast<uint8_t>(reservation & 0xFF),
                             static_cast<uint8_t>(reservation >> 8),
                             'C',
                             'L',
                             'R',
                             kEraseStart};
    std::memcpy(request_, start, sizeof start);
    result = SendCommand(request_, sizeof start, response_, sizeof response_, &length);
    // A transport failure is taken as a started erase: a slow erase start may outlast the
    // driver while the BMC goes on; the status requests tell.
    if (result == 0 || result == 28 || result == 29) break;
    if (!ReservationLost(result, length)) return kAlreadyReported;
    if (++attempts >= kReservationRetryLimit) {
      Report(27, 0, "Clear SDR repository");
      return kAlreadyReported;
    }
  }

  request_[7] = kEraseStatus;
  if (result == 0 && length >= 4 && response_[3] == kEraseCompleted) return 0;
  // Bounded, so a BMC that never finishes cannot hold the update forever.
  const uint64_t deadline = run.clock.MonotonicMs() + kEraseTimeLimitMs;
  for (;;) {
    if (run.clock.MonotonicMs() >= deadline) {
      run.LogLine("Clear SDR repository: erase not completed within 600 seconds");
      return kAlreadyReported;
    }
    run.clock.SleepMs(kErasePollMs);
    if (SendCommand(request_, 8, response_, sizeof response_, &length) != 0) return kAlreadyReported;
    if (length != 4) return 29;
    if (response_[3] == kEraseCompleted) return 0;
  }
}

int SDRFile::PartialAddSparedSdr(const uint8_t* record) {
  const int body = record[4];
  if (body > kMaxSdrBodyBytes) return 58;
  const int total = body + kSdrHeaderBytes;

  ReservationLossExpected expectLoss(run_);
  int attempts = 0;
  for (;;) {
    uint16_t reservation = 0;
    if (Reserve(true, &reservation) != 0) return kAlreadyReported;
    // Record ID 0000 asks the BMC for a new record; it names the record from the first chunk on.
    request_[0] = kOemNetFn;
    request_[1] = kCmdPartialAdd;
    request_[2] = static_cast<uint8_t>(reservation & 0xFF);
    request_[3] = static_cast<uint8_t>(reservation >> 8);
    request_[4] = 0x00;
    request_[5] = 0x00;

    bool lost = false;
    for (int offset = 0; offset < total; offset += kChunkBytes) {
      const int count = std::min(kChunkBytes, total - offset);
      const bool last = offset + count == total;
      request_[6] = static_cast<uint8_t>(offset);
      request_[7] = last ? 0x01 : 0x00;
      std::memcpy(request_ + 8, record + offset, static_cast<size_t>(count));
      int length = 0;
      const int result = SendCommand(request_, 8 + count, response_, sizeof response_, &length);
      if (result != 0) {
        if (!ReservationLost(result, length)) return kAlreadyReported;
        lost = true;
        break;
      }
      if (offset == 0 && !last) {
        // The later chunks must address the record the BMC has just opened.
        if (length < 5) {
          Report(5);
          return kAlreadyReported;
        }
        request_[4] = response_[3];
        request_[5] = response_[4];
      }
    }
    if (!lost) return 0;
    if (++attempts >= kReservationRetryLimit) {
      Report(27, 0, "Partial Add SDR");
      return kAlreadyReported;
    }
  }
}

}  // namespace veltrop
