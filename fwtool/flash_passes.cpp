#include "fwtool/flash_passes.h"

#include <cstdio>
#include <string>

#include "fwtool/fw_run.h"
#include "transport/ipmi_exchange.h"
#include "transport/log_exchange.h"

namespace korvane {
namespace {

constexpr uint8_t kNetFnFirmware = 0x08;
constexpr uint8_t kCmdFwIdChip = 0x00;
constexpr uint8_t kCmdErase = 0x01;
constexpr uint8_t kCmdWrite = 0x02;
constexpr uint8_t kCmdRead = 0x03;
constexpr uint8_t kCcBusy = 0xC0;
constexpr uint8_t kCcWriteCheck = 0xC4;
constexpr uint32_t kLargeSector = 0x40000;
constexpr uint32_t kBlock = 0x2000;
constexpr int kBusyLimit = 10;
constexpr int kPollLimit = 60;
constexpr uint32_t kBusyPauseMs = 100;
constexpr uint32_t kPollPauseMs = 5000;
// On a single-bank device with the boot block updated, this range is never touched.
constexpr uint32_t kKeptFrom = 0x8000;
constexpr uint32_t kKeptTo = 0x10000;

void Address(std::vector<uint8_t>* data, uint32_t address) {
  for (int i = 0; i < 4; ++i) data->push_back(static_cast<uint8_t>(address >> (8 * i)));
}

Exchange SendBytes(FwRun& run, uint8_t command, const std::vector<uint8_t>& data) {
  Exchange e;
  e.request.bytes[0] = static_cast<uint8_t>(kNetFnFirmware << 2);
  e.request.bytes[1] = command;
  e.request.length = 2;
  for (uint8_t b : data) e.request.bytes[e.request.length++] = b;
  e.response.length = 0;
  e.status = transport::IpmiExchange(run.ctx.transport, e.request, &e.response);
  return e;
}

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
bool Stopped(FwRun& run, const char* code) {
  if (!run.ctx.StopRequested()) return false;
  run.Report(code);
  return true;
}

int Fail(FwRun& run, const char* code, const Exchange& e) {
  ReportFailedExchange(run, code, e);
  return 1;
}

// Polls FW ID Chip with the flash type until the BMC says the erase is done. busyOnly: only
// C0h means "still erasing"; otherwise any code but 00h does.
bool PollEraseDone(FwRun& run, bool busyOnly, Exchange* last) {
  uint32_t shortPausesMs = 0;
  for (int poll = 0; poll < kPollLimit;) {
    *last = SendBytes(run, kCmdFwIdChip, {run.layout.flashType});
    if (last->status != transport::kExchangeOk || last->response.length < 3) return false;
    const uint8_t cc = last->CompletionCode();
    if (cc == 0x00) return true;
    if (busyOnly && cc != kCcBusy) return false;
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
bool EraseAt(FwRun& run, uint32_t address, Exchange* last) {
  std::vector<uint8_t> data;
  Address(&data, address);
  if (run.layout.sectorSize == kLargeSector && !run.ctx.transport.UseWmiPath) {
    // A large sector's erase outlasts its answer: the completion poll decides.
    *last = SendBytes(run, kCmdErase, data);
    run.ctx.clock.SleepMs(kPollPauseMs);
    return PollEraseDone(run, true, last);
  }
  for (int busy = 0;;) {
    *last = SendBytes(run, kCmdErase, data);
    if (last->status != transport::kExchangeOk || last->response.length != 3) return false;
    const uint8_t cc = last->CompletionCode();
    if (cc == 0x00) break;
    if (cc != kCcBusy || ++busy >= kBusyLimit) return false;
    run.ctx.clock.SleepMs(kBusyPauseMs);
  }
  return PollEraseDone(run, false, last);
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
  Exchange last;
  while (address < end) {
    ShowProgress(run, address, layout.bank2Address, Phase::kErase);
    if (Stopped(run, "C8")) return 1;
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
      if (!EraseAt(run, eraseAddress, &last)) return Fail(run, "C8", last);
    }
    address += step;
  }
  ShowProgress(run, address, layout.bank2Address, Phase::kErase);
  run.Log("=== EraseBmcData() success. ===");
  return 0;
}

int ReadBackChunk(FwRun& run, uint32_t address, uint32_t count) {
  std::vector<uint8_t> data;
  Address(&data, address);
  data.push_back(static_cast<uint8_t>(count));
  for (int retry = 0;;) {
    const Exchange e = SendBytes(run, kCmdRead, data);
    if (e.status != transport::kExchangeOk) return 1;
    if (e.CompletionCode() != 0x00) {
      if (!run.ctx.transport.UseWmiPath || ++retry >= kBusyLimit) return 1;
      run.ctx.clock.SleepMs(kBusyPauseMs);
      continue;
    }
    // Without the whole chunk in the answer nothing is known to be written.
    bool same = e.response.length == count + 3;
    const uint32_t offset = address - run.layout.startAddress;
    for (uint32_t i = 0; same && i < count; ++i)
      same = e.response.bytes[3 + i] == run.image.bytes[offset + i];
    if (same) return 0;
    run.ctx.clock.SleepMs(kBusyPauseMs);
    return 2;
  }
}

int UpdateBmcData(FwRun& run) {
  const uint64_t size = run.image.bytes.size();
  const uint32_t start = run.layout.startAddress;
  uint32_t address = start;
  while (address - static_cast<uint64_t>(start) < size) {
    ShowProgress(run, address, size, Phase::kWrite);
    if (Stopped(run, "C9")) return 1;
    if (BootBlockSkip(run, &address) || KeptRangeSkip(run, &address)) continue;
    const uint32_t n = ChunkLength(run, address, size);
    std::vector<uint8_t> data;
    Address(&data, address);
    const uint8_t* bytes = run.image.bytes.data() + (address - start);
    data.insert(data.end(), bytes, bytes + n);
    for (int retry = 0;;) {
      const Exchange e = SendBytes(run, kCmdWrite, data);
      if (e.status != transport::kExchangeOk) return Fail(run, "C9", e);
      const uint8_t cc = e.CompletionCode();
      if (cc == 0x00) break;
      run.Log("=== Write Error!!! ===");
      if (cc == kCcBusy) {
        if (++retry >= kBusyLimit) return Fail(run, "C9", e);
        run.ctx.clock.SleepMs(kBusyPauseMs);
        continue;
      }
      if (cc != kCcWriteCheck) {
        if (!run.ctx.transport.UseWmiPath) return Fail(run, "C9", e);
        transport::LogExchange([&run](const std::string& line) { run.Log(line); }, "  ", e.request.bytes,
                               e.request.length, e.response.bytes, e.response.length);
      }
      // Given up after ten tries: the verify pass compares every byte.
      if (++retry >= kBusyLimit) break;
      const int check = ReadBackChunk(run, address, n);
      if (check == 1) return Fail(run, "C9", e);
      if (check == 0) break;
    }
    address += n;
  }
  ShowProgress(run, address, size, Phase::kWrite);
  run.Log("=== UpdateBmcData() success. ===");
  return 0;
}

int VerifyWriteData(FwRun& run) {
  const uint64_t size = run.image.bytes.size();
  const uint32_t start = run.layout.startAddress;
  uint32_t address = start;
  while (address - static_cast<uint64_t>(start) < size) {
    ShowProgress(run, address, size, Phase::kVerify);
    if (Stopped(run, "C10")) return 1;
    if (KeptRangeSkip(run, &address) || BootBlockSkip(run, &address)) continue;
    const uint32_t n = ChunkLength(run, address, size);
    std::vector<uint8_t> data;
    Address(&data, address);
    data.push_back(static_cast<uint8_t>(n));
    Exchange e;
    for (int retry = 0;;) {
      e = SendBytes(run, kCmdRead, data);
      if (e.status != transport::kExchangeOk) return Fail(run, "C10", e);
      if (e.CompletionCode() == 0x00) break;
      // Still refused after ten tries: nothing was read to compare.
      if (!run.ctx.transport.UseWmiPath || ++retry >= kBusyLimit) return Fail(run, "C10", e);
      run.ctx.clock.SleepMs(kBusyPauseMs);
    }
    if (e.response.length != n + 3) return Fail(run, "C10", e);
    const uint32_t offset = address - start;
    for (uint32_t i = 0; i < n; ++i) {
      if (e.response.bytes[3 + i] != run.image.bytes[offset + i]) {
        char line[64];
        std::snprintf(line, sizeof line, "compare error. count : 0x%x ", offset + i);
        run.Log(line);
        return Fail(run, "C10", e);
      }
    }
    address += n;
  }
  ShowProgress(run, address, size, Phase::kVerify);
  run.Log("=== VerifyWriteData() success. ===");
  return 0;
}

}  // namespace korvane
