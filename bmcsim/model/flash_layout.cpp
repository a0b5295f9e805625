#include "bmcsim/model/flash_layout.h"

#include <algorithm>

namespace bmcsim {

bool IsDualBank(uint8_t deviceId) {
  return deviceId == 0x38 || deviceId == 0x39 || deviceId == 0x3A;
}

int BankCount(const BmcState& state) {
  return IsDualBank(state.identity.deviceId) ? 2 : 1;
}

uint8_t StandbyBank(const BmcState& state) {
  if (BankCount(state) == 1) return 1;
  return state.firmware.runningBank == 1 ? 2 : 1;
}

uint32_t BankStart(const FirmwareState& firmware, uint8_t bank) {
  return bank == 2 ? firmware.bankSize : 0;
}

uint32_t SectorSize(const FlashChip& chip) {
  bool large = chip.index == kChipWithCodes && chip.sectorCode == kLargeSectorCode;
  return large ? kLargeSector : kSmallSector;
}

FlashSpan EraseUnitAt(const FirmwareState& firmware, uint32_t bankOffset) {
  uint32_t sector = SectorSize(firmware.chip);
  uint32_t unit = sector == kSmallSector && bankOffset < kBootAreaSize ? kBootBlockSize : sector;
  FlashSpan span;
  span.offset = bankOffset / unit * unit;
  span.length = std::min(unit, firmware.bankSize - span.offset);
  return span;
}

bool LocateRange(const BmcState& state, uint32_t address, uint64_t length, uint8_t* bank, uint32_t* offset) {
  const FirmwareState& firmware = state.firmware;
  if (firmware.bankSize == 0) return false;
  uint64_t index = address / firmware.bankSize;
  if (index >= static_cast<uint64_t>(BankCount(state))) return false;
  uint8_t n = static_cast<uint8_t>(index + 1);
  uint32_t inBank = address - BankStart(firmware, n);
  if (length > firmware.bankSize - inBank) return false;
  *bank = n;
  *offset = inBank;
  return true;
}

bool EraseBusy(const FirmwareState& firmware, uint64_t nowMs) {
  return firmware.eraseRunning && nowMs >= firmware.eraseStartMs &&
         nowMs - firmware.eraseStartMs < firmware.eraseMs;
}

}  // namespace bmcsim
