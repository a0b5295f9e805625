#include "fwtool/flash_layout.h"

#include <cstdio>
#include <string>

#include "fwtool/bank_selection.h"
#include "fwtool/fw_run.h"
#include "ipmi/firmware_commands.h"

namespace korvane {
namespace {

constexpr uint8_t kLargeChipIndex = 4;  // the only chip that reports its own geometry
constexpr uint8_t kLargeSectorCode = 2;
constexpr uint8_t kLargeBootBlockCode = 3;
constexpr uint8_t kDefaultSizeCode = 1;
constexpr uint32_t kSingleBankRange = 0x400000;
// No flash of this BMC family holds a bank beyond this: a longer range is a garbled answer,
// and erasing by it would run past the flash for hours.
constexpr uint32_t kMaxBankRange = 0x2000000;
constexpr uint32_t kProbeAgainPauseMs = 1000;

struct ChipFound {
  uint8_t flashType = 0;
  uint32_t sectorSize = 0;
  uint32_t bootBlockSize = 0;
  uint8_t shownType = 0;  // data byte 2 of the last answer, for the log

  bool operator==(const ChipFound& other) const {
    return flashType == other.flashType && sectorSize == other.sectorSize &&
           bootBlockSize == other.bootBlockSize && shownType == other.shownType;
  }
};

// An answer that tells nothing about the chip at that index.
bool SaysNothing(const ipmi::Outcome<ipmi::ChipId>& answer) {
  switch (answer.failure) {
    case ipmi::Failure::kNone:
      return false;
    case ipmi::Failure::kCompletionCode:
      return answer.completionCode == ipmi::kCcBusy || answer.completionCode == ipmi::kCcTimeout ||
             answer.completionCode == ipmi::kCcUnspecified;
    case ipmi::Failure::kTransport:
    case ipmi::Failure::kMalformed:
      break;
  }
  return true;
}

ipmi::Outcome<ipmi::ChipId> Probe(FwRun& run, uint8_t index) {
  for (int sent = 1;; ++sent) {
    ipmi::Outcome<ipmi::ChipId> answer = run.Send(ipmi::FwIdChip(index));
    if (!SaysNothing(answer) || sent >= kBusySendings) return answer;
    run.ctx.clock.SleepMs(kBusyPauseMs);
  }
}

// One probe of every chip index in turn, up to the one that echoes its index.
int ProbeChips(FwRun& run, ChipFound* found) {
  const uint8_t probes = IsDualBank(run.identity.deviceId) ? 5 : 3;
  ipmi::Outcome<ipmi::ChipId> last;
  uint8_t index = 0;
  for (; index < probes; ++index) {
    last = Probe(run, index);
    if (SaysNothing(last)) return ReportFailedExchange(run, FwCode::kFwIdChip);
    // A clean answer without this index, or a refusal other than busy, is not this chip.
    if (last.ok() && last.value.echoed && last.value.index == index) break;
  }
  const ipmi::ChipId& chip = last.value;
  found->flashType = index;
  uint8_t sizeCode = kDefaultSizeCode;
  found->sectorSize = kSmallSector;
  if (index == kLargeChipIndex) {
    // The large chip names its geometry; without it the geometry is unknown.
    if (!chip.hasSizeCode || !chip.hasSectorCode) return ReportFailedExchange(run, FwCode::kFwIdChip);
    sizeCode = chip.sizeCode;
    found->sectorSize = chip.sectorCode == kLargeSectorCode ? kLargeSector : kSmallSector;
  }
  found->bootBlockSize = sizeCode == kLargeBootBlockCode ? kLargeSector : kSmallSector;
  found->shownType = chip.hasSizeCode ? chip.sizeCode : 0;
  return 0;
}

// A layout answer that does not hold: why in the log, the query's code, the exchange.
int Refuse(FwRun& run, FwCode code, const std::string& why) {
  run.Log(why);
  return ReportFailedExchange(run, code);
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

void LogAddresses(FwRun& run, uint32_t bank2Address, uint32_t startAddress) {
  char line[96];
  std::snprintf(line, sizeof line, "Bank2 Address : 0x%x Start Address : 0x%x", bank2Address, startAddress);
  run.Log(line);
  run.Log("=== GetFWImageSelector() success. ===");
}

// SetBankId(2), then the start address of bank 2.
int ReadBank2Address(FwRun& run, uint32_t* address) {
  if (SetBankId(run, 2) != 0 || GetFWImageSelector(run, address) != 0) return 1;
  LogAddresses(run, *address, run.layout.startAddress);
  return 0;
}

}  // namespace

int CheckIdChip(FwRun& run) {
  // A refusal that lasts a moment must not meet every probe of a chip: the probes are repeated
  // after a pause, and a dual-bank device without a chip is looked at a third time, since "no
  // chip" means 64-KiB sectors, and an erase of those on a 256-KiB-sector chip takes the boot
  // block with it.
  const uint8_t probes = IsDualBank(run.identity.deviceId) ? 5 : 3;
  ChipFound first;
  if (ProbeChips(run, &first) != 0) return 1;
  const int loops = IsDualBank(run.identity.deviceId) && first.flashType == probes ? 3 : 2;
  for (int loop = 2; loop <= loops; ++loop) {
    run.ctx.clock.SleepMs(kProbeAgainPauseMs);
    ChipFound again;
    if (ProbeChips(run, &again) != 0) return 1;
    if (!(again == first))
      return Refuse(run, FwCode::kFwIdChip, "The flash ID chip answered differently when asked again.");
  }
  FlashLayout& layout = run.layout;
  layout.flashType = first.flashType;
  layout.sectorSize = first.sectorSize;
  layout.bootBlockSize = first.bootBlockSize;
  char line[128];
  std::snprintf(line, sizeof line, "Flash Type : 0x%x Sector Size : 0x%x BootBlock Size : 0x%x",
                first.shownType, layout.sectorSize, layout.bootBlockSize);
  run.Log(line);
  run.Log("=== CheckIdChip() success. ===");
  return 0;
}

int ReadBankLayout(FwRun& run) {
  FlashLayout& layout = run.layout;
  if (!IsDualBank(run.identity.deviceId)) {
    layout.bank2Address = kSingleBankRange;
    return 0;
  }
  uint8_t bank = 0, again = 0;
  if (GetCurrentBankId(run, &bank) != 0 || GetCurrentBankId(run, &again) != 0) return 1;
  if (bank != again)
    return Refuse(run, FwCode::kGetImageSelector,
                  "The running bank was answered differently when asked again.");
  layout.currentBank = bank;

  uint32_t range = 0, rangeAgain = 0;
  if (ReadBank2Address(run, &range) != 0 || ReadBank2Address(run, &rangeAgain) != 0) return 1;
  if (range != rangeAgain)
    return Refuse(run, FwCode::kGetDownloaderSelector,
                  "The bank-2 address was answered differently when asked again.");
  // A bank of no length would be erased and written as nothing and then called a success.
  if (range == 0) return Refuse(run, FwCode::kGetDownloaderSelector, "The BMC names a bank of length 0.");
  if (range % layout.sectorSize != 0)
    return Refuse(run, FwCode::kGetDownloaderSelector,
                  "The bank-2 address " + Hex(range) + " is not on a sector boundary (" +
                      Hex(layout.sectorSize) + ").");
  if (range > kMaxBankRange)
    return Refuse(run, FwCode::kGetDownloaderSelector,
                  "The bank-2 address " + Hex(range) + " names a bank beyond any flash of this BMC.");
  layout.bank2Address = range;
  return 0;
}

int SelectPassBank(FwRun& run) {
  FlashLayout& layout = run.layout;
  // A single-bank device is programmed from address 0; nothing is asked.
  if (!IsDualBank(run.identity.deviceId)) return 0;
  const uint8_t bank = layout.BankInProgram();
  const uint32_t expected = layout.StartOf(bank);
  for (int sent = 1;; ++sent) {
    run.step = FwCode::kSetDownloaderSelector;
    if (SetBankId(run, static_cast<uint8_t>(layout.targetBank)) != 0) return 1;
    run.step = FwCode::kGetDownloaderSelector;
    uint32_t start = 0, again = 0;
    if (GetFWImageSelector(run, &start) != 0 || GetFWImageSelector(run, &again) != 0) return 1;
    if (start != again)
      return Refuse(run, FwCode::kGetDownloaderSelector,
                    "The start address was answered differently when asked again.");
    if (start == expected) break;
    // The downloader still points elsewhere: the selection was acknowledged and not made.
    run.Log("The start address " + Hex(start) + " is not where bank " + std::to_string(bank) + " starts (" +
            Hex(expected) + ").");
    if (sent >= kChangeSendings) return ReportFailedExchange(run, FwCode::kGetDownloaderSelector);
  }
  layout.startAddress = expected;
  LogAddresses(run, layout.bank2Address, layout.startAddress);
  return 0;
}

}  // namespace korvane
