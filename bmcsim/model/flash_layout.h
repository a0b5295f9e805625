#pragma once
#include <cstdint>

#include "bmcsim/model/bmc_state.h"

namespace bmcsim {

// Where things lie in the firmware flash. Bank n (1 or 2) covers flash addresses
// (n-1) * bank size up to n * bank size; a single-bank device has bank 1 only.

constexpr uint32_t kBootBlockSize = 0x2000;  // the 8-KiB blocks at the bottom of a bank
constexpr uint32_t kBootAreaSize = 0x10000;  // that many bytes of them, with 64-KiB sectors
constexpr uint32_t kSmallSector = 0x10000;
constexpr uint32_t kLargeSector = 0x40000;
constexpr uint8_t kLargeSectorCode = 2;  // what chip 4 reports for 256-KiB sectors
constexpr uint8_t kChipWithCodes = 4;    // the only chip that reports its own geometry

// Device IDs 38h, 39h and 3Ah are dual-bank devices; every other device has one bank.
bool IsDualBank(uint8_t deviceId);
int BankCount(const BmcState& state);
// The bank that is not running (the only bank on a single-bank device).
uint8_t StandbyBank(const BmcState& state);
uint32_t BankStart(const FirmwareState& firmware, uint8_t bank);

uint32_t SectorSize(const FlashChip& chip);

struct FlashSpan {
  uint32_t offset = 0;  // from the start of the bank
  uint32_t length = 0;
};
// The erase unit (boot block or sector) that holds a bank offset; the last sector ends with
// the bank.
FlashSpan EraseUnitAt(const FirmwareState& firmware, uint32_t bankOffset);

// The bank that holds all of [address, address + length) and the offset of address in it;
// false when the range leaves the device's flash or crosses into another bank.
bool LocateRange(const BmcState& state, uint32_t address, uint64_t length, uint8_t* bank, uint32_t* offset);

// True while an erase keeps the chip busy. A clock reading before the erase's start comes
// from another process's clock, not from the past: the erase counts as finished.
bool EraseBusy(const FirmwareState& firmware, uint64_t nowMs);

}  // namespace bmcsim
