#include "fwtool/flash_passes.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fwtool/fw_run.h"
#include "ipmi/firmware_commands.h"

namespace korvane {
namespace {

constexpr uint32_t kBlock = 0x2000;
constexpr int kPollLimit = 60;
constexpr uint32_t kPollPauseMs = 5000;
// On a single-bank device with the boot block updated, this range is never touched.
constexpr uint32_t kKeptFrom = 0x8000;
constexpr uint32_t kKeptTo = 0x10000;

bool SkipsKeptRange(const FwRun& run) {
  return IsSingleBank(run.identity.deviceId) && run.settings.BootBlockUpdate;
}

// The boot block stays as it is unless asked for: the first address of the bank jumps past it.
bool BootBlockSkip(const FwRun& run, uint32_t* address) {
  if (run.settings.BootBlockUpdate || *address != run.layout.startAddress) return false;
  *address = run.layout.startAddress + run.layout.bootBlockSize;
  return true;
}

// Any address inside the kept range jumps past it, however the chunks fall.
bool KeptRangeSkip(const FwRun& run, uint32_t* address) {
  if (!SkipsKeptRange(run) || *address < kKeptFrom || *address >= kKeptTo) return false;
  *address = kKeptTo;
  return true;
}

// Bytes of the chunk at address: the block size, less at the image's end, and never into the
// kept range.
uint32_t ChunkLength(const FwRun& run, uint32_t address, uint64_t size) {
  const uint64_t offset = address - static_cast<uint64_t>(run.layout.startAddress);
  uint64_t n = size - offset < run.settings.BlockSize ? size - offset : run.settings.BlockSize;
  if (SkipsKeptRange(run) && address < kKeptFrom && address + n > kKeptFrom) n = kKeptFrom - address;
  return static_cast<uint32_t>(n);
}

// Between chunks and erase units is a safe point to stop at: the pass fails with its code, and
// the run restores what it changed.
bool Stopped(FwRun& run, FwCode code) {
  if (!run.ctx.StopRequested()) return false;
  run.Report(code);
  return true;
}

// Polls FW ID Chip with the flash type until the BMC says the erase is done. busyOnly: only
// C0h means "still erasing"; otherwise any code but 00h does.
bool PollEraseDone(FwRun& run, bool busyOnly) {
  uint32_t shortPausesMs = 0;
  for (int poll = 0; poll < kPollLimit;) {
    const ipmi::Outcome<ipmi::ChipId> answer = run.Send(ipmi::FwIdChip(run.layout.flashType));
    if (answer.ok()) return true;
    if (answer.failure != ipmi::Failure::kCompletionCode) return false;
    if (busyOnly && answer.completionCode != ipmi::kCcBusy) return false;
    if (!run.ctx.StopRequested()) {
      run.ctx.clock.SleepMs(kPollPauseMs);
      ++poll;
      continue;
    }
    // A run asked to stop still lets the erase end, but looks more often, so that its cleanup
    // starts as soon as the flash is idle (a closing console leaves it seconds only); the
    // limit stays one of time.
    run.ctx.clock.SleepMs(kBusyPauseMs);
    shortPausesMs += kBusyPauseMs;
    if (shortPausesMs >= kPollPauseMs) {
      shortPausesMs = 0;
      ++poll;
    }
  }
  return false;
}

// One sector or block erase by the rules of the chip's geometry and the path.
bool EraseAt(FwRun& run, uint32_t address) {
  if (run.layout.sectorSize == kLargeSector && !run.ctx.transport.UseWmiPath) {
    // A large sector's erase outlasts its answer: the completion poll decides.
    run.Send(ipmi::FirmwareErase(address));
    run.ctx.clock.SleepMs(kPollPauseMs);
    return PollEraseDone(run, true);
  }
  for (int busy = 0;;) {
    const ipmi::Outcome<ipmi::Done> erased = run.Send(ipmi::FirmwareErase(address));
    if (erased) break;
    if (!erased.Refused(ipmi::kCcBusy) || ++busy >= kBusySendings) return false;
    run.ctx.clock.SleepMs(kBusyPauseMs);
  }
  return PollEraseDone(run, false);
}

// What a read of a chunk came to.
enum class ChunkRead { kSame, kFailed, kDiffers };

// Reads the chunk at address and compares it with `expected`; on the Microsoft driver's path a
// refused read is asked again, up to ten times. *mismatch: the index in the chunk of the first
// byte that differs (kNoMismatch when the answer did not hold the chunk).
constexpr uint32_t kNoMismatch = 0xFFFFFFFF;

ChunkRead ReadChunk(FwRun& run, uint32_t address, uint32_t count, const uint8_t* expected,
                    uint32_t* mismatch) {
  *mismatch = kNoMismatch;
  for (int retry = 0;;) {
    const ipmi::Outcome<wire::Bytes> read =
        run.Send(ipmi::FirmwareRead(address, static_cast<uint8_t>(count)));
    if (read.failure == ipmi::Failure::kTransport) return ChunkRead::kFailed;
    // Without the whole chunk in the answer nothing is known to be written.
    if (read.failure == ipmi::Failure::kMalformed && read.malformed == ipmi::Malformed::kLength)
      return ChunkRead::kDiffers;
    if (!read) {
      if (!run.ctx.transport.UseWmiPath || ++retry >= kBusySendings) return ChunkRead::kFailed;
      run.ctx.clock.SleepMs(kBusyPauseMs);
      continue;
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (read.value[i] != expected[i]) {
        *mismatch = i;
        return ChunkRead::kDiffers;
      }
    }
    return ChunkRead::kSame;
  }
}

// Reads the chunk at address against the image bytes that belong there.
ChunkRead ReadImageChunk(FwRun& run, uint32_t address, uint32_t count, uint32_t* mismatchOffset) {
  const uint32_t offset = address - run.layout.startAddress;
  const ChunkRead read = ReadChunk(run, address, count, run.image.bytes.data() + offset, mismatchOffset);
  if (*mismatchOffset != kNoMismatch) *mismatchOffset += offset;
  return read;
}

// The image's chunks in flash order, past the kept ranges, each handed to visit(address,
// length), which returns 0 to go on or 1 when the pass failed (reported). The progress is shown
// before every chunk and a stop request honoured between them; 0 at the image's end.
template <typename Visit>
int WalkImage(FwRun& run, Phase phase, FwCode code, Visit visit) {
  const uint64_t size = run.image.bytes.size();
  const uint32_t start = run.layout.startAddress;
  uint32_t address = start;
  while (address - static_cast<uint64_t>(start) < size) {
    ShowProgress(run, address, size, phase);
    if (Stopped(run, code)) return 1;
    if (BootBlockSkip(run, &address) || KeptRangeSkip(run, &address)) continue;
    const uint32_t n = ChunkLength(run, address, size);
    if (visit(address, n) != 0) return 1;
    address += n;
  }
  ShowProgress(run, address, size, phase);
  return 0;
}

// An erase acknowledged and not carried out leaves old bytes where the verify pass never reads:
// past the image's end. Each erased unit there is read back at its start, and the unit that
// holds the image's end just past it; anything but FFh fails the erase.
int ConfirmBlankPastImage(FwRun& run, const std::vector<uint32_t>& erasedUnits, uint64_t end) {
  const uint64_t imageEnd = run.layout.startAddress + static_cast<uint64_t>(run.image.bytes.size());
  std::vector<uint32_t> probes;
  uint32_t first = static_cast<uint32_t>(imageEnd);
  if (imageEnd < end && !KeptRangeSkip(run, &first)) probes.push_back(first);
  for (uint32_t unit : erasedUnits) {
    if (unit > imageEnd || (unit == imageEnd && probes.empty())) probes.push_back(unit);
  }
  for (uint32_t address : probes) {
    uint64_t n = std::min<uint64_t>(run.settings.BlockSize, end - address);
    if (SkipsKeptRange(run) && address < kKeptFrom && address + n > kKeptFrom) n = kKeptFrom - address;
    const std::vector<uint8_t> blank(n, 0xFF);
    uint32_t mismatch = 0;
    switch (ReadChunk(run, address, static_cast<uint32_t>(n), blank.data(), &mismatch)) {
      case ChunkRead::kSame:
        continue;
      case ChunkRead::kFailed:
        break;
      case ChunkRead::kDiffers: {
        char line[80];
        std::snprintf(line, sizeof line, "The flash at 0x%x is not blank after its erase.", address);
        run.Log(line);
        break;
      }
    }
    return ReportFailedExchange(run, FwCode::kEraseError);
  }
  return 0;
}

}  // namespace

void ShowProgress(FwRun& run, uint32_t address, uint64_t total, Phase phase) {
  if (total == 0) return;
  const int64_t position = static_cast<int64_t>(address) - static_cast<int64_t>(run.layout.startAddress);
  const int64_t percent = position * 100 / static_cast<int64_t>(total);
  if (run.settings.Updates()) {
    if (position == static_cast<int64_t>(total) && phase != Phase::kErase) return;
    const int64_t step = run.settings.BothUpdate ? percent * 3 / 20 : percent * 3 / 10;
    if (step % 5 != 0 || step == run.lastProgressStep) return;
    run.lastProgressStep = static_cast<int32_t>(step);
    run.ctx.progressRatio += 5;
    // 100 belongs to the main flow, once everything succeeded.
    if (run.ctx.progressRatio == 100) run.ctx.progressRatio = 99;
    run.ctx.PublishProgress();
    return;
  }
  const char* prefix = run.layout.currentBank == 1   ? "\r BANK2 "
                       : run.layout.currentBank == 2 ? "\r BANK1 "
                                                     : "\r ";
  const char* word = phase == Phase::kErase ? "Erasing." : phase == Phase::kWrite ? "Writing." : "Verifying.";
  run.ctx.console.Write(std::string(prefix) + word);
  if (percent == run.lastProgressStep) return;
  run.lastProgressStep = static_cast<int32_t>(percent);
  run.ctx.console.Write(" " + std::to_string(percent) + "%  ");
  if (percent == 100) run.ctx.console.Write("...complete \r\n");
}

int EraseBmcData(FwRun& run) {
  const FlashLayout& layout = run.layout;
  uint32_t address = layout.startAddress;
  const uint64_t end = static_cast<uint64_t>(layout.startAddress) + layout.bank2Address;
  uint32_t step = 0;
  uint32_t lastSector = IsDualBank(run.identity.deviceId) ? 0xFF : 0;
  std::vector<uint32_t> erasedUnits;
  while (address < end) {
    ShowProgress(run, address, layout.bank2Address, Phase::kErase);
    if (Stopped(run, FwCode::kEraseError)) return 1;
    if (BootBlockSkip(run, &address) || KeptRangeSkip(run, &address)) continue;
    const uint32_t sector = ((address - layout.startAddress) >> 16) & 0xFF;
    const bool blockStart = address == 0 || address == 0x4000 || address == 0x6000 || address == 0x8000;
    if (!blockStart && sector == lastSector) {
      address += step;  // the rest of this sector went with its first erase
      continue;
    }
    for (int j = 0; j < 2; ++j) {
      uint32_t eraseAddress = address;
      if (sector != lastSector) {
        j = 1;
        lastSector = sector;
        step = layout.sectorSize;
      } else {
        // The first 64 KiB are 8-KiB blocks: 0x2000 before 0x0000, then 0x4000 and 0x6000.
        step = kBlock;
        if (address == 0 && j == 0) {
          eraseAddress = kBlock;
        } else {
          j = 1;
        }
      }
      if (!EraseAt(run, eraseAddress)) return ReportFailedExchange(run, FwCode::kEraseError);
      erasedUnits.push_back(eraseAddress);
    }
    address += step;
  }
  ShowProgress(run, address, layout.bank2Address, Phase::kErase);
  if (ConfirmBlankPastImage(run, erasedUnits, end) != 0) return 1;
  run.Log("=== EraseBmcData() success. ===");
  return 0;
}

int ReadBackChunk(FwRun& run, uint32_t address, uint32_t count) {
  uint32_t mismatch = 0;
  switch (ReadImageChunk(run, address, count, &mismatch)) {
    case ChunkRead::kSame:
      return 0;
    case ChunkRead::kFailed:
      return 1;
    case ChunkRead::kDiffers:
      break;
  }
  run.ctx.clock.SleepMs(kBusyPauseMs);
  return 2;
}

// A write answered 00h is not read back here: the verify pass that follows reads every byte.
int UpdateBmcData(FwRun& run) {
  const uint32_t start = run.layout.startAddress;
  const int result =
      WalkImage(run, Phase::kWrite, FwCode::kUpdateError, [&run, start](uint32_t address, uint32_t n) {
        const ipmi::Command<ipmi::Done> write =
            ipmi::FirmwareWrite(address, run.image.bytes.data() + (address - start), static_cast<uint8_t>(n));
        for (int retry = 0;;) {
          const ipmi::Outcome<ipmi::Done> written = run.Send(write);
          if (written.failure == ipmi::Failure::kTransport)
            return ReportFailedExchange(run, FwCode::kUpdateError);
          if (written) return 0;
          run.Log("=== Write Error!!! ===");
          if (written.Refused(ipmi::kCcBusy)) {
            if (++retry >= kBusySendings) return ReportFailedExchange(run, FwCode::kUpdateError);
            run.ctx.clock.SleepMs(kBusyPauseMs);
            continue;
          }
          if (!written.Refused(ipmi::kCcWriteUnverified)) {
            if (!run.ctx.transport.UseWmiPath) return ReportFailedExchange(run, FwCode::kUpdateError);
            LogLastExchange(run);
          }
          // Given up after ten tries: the verify pass compares every byte.
          if (++retry >= kBusySendings) return 0;
          const int check = ReadBackChunk(run, address, n);
          if (check == 1) return ReportFailedExchange(run, FwCode::kUpdateError);
          if (check == 0) return 0;
        }
      });
  if (result != 0) return 1;
  run.Log("=== UpdateBmcData() success. ===");
  return 0;
}

int VerifyWriteData(FwRun& run) {
  const int result =
      WalkImage(run, Phase::kVerify, FwCode::kVerifyError, [&run](uint32_t address, uint32_t n) {
        uint32_t mismatch = 0;
        switch (ReadImageChunk(run, address, n, &mismatch)) {
          case ChunkRead::kSame:
            return 0;
          case ChunkRead::kFailed:
            break;
          case ChunkRead::kDiffers:
            if (mismatch != kNoMismatch) {
              char line[64];
              std::snprintf(line, sizeof line, "compare error. count : 0x%x ", mismatch);
              run.Log(line);
            }
            break;
        }
        return ReportFailedExchange(run, FwCode::kVerifyError);
      });
  if (result != 0) return 1;
  run.Log("=== VerifyWriteData() success. ===");
  return 0;
}

}  // namespace korvane
