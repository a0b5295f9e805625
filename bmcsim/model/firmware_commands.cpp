// The firmware commands (network function 08h): the flash ID chip, erase, write and read of the
// NOR flash, and the image and downloader selectors.
//
// Choices where the command set leaves the BMC's behaviour open:
// - FW ID Chip i: the fitted chip answers 00h with its index, size code and sector code (chips
//   0 to 3 report codes 01h 01h, chip 4 the configured ones); any other index answers 00h
//   without data. While an erase keeps the chip busy, every index answers C0h: this is the
//   erase-completion poll.
// - Erase, write and read answer C0h while the chip is busy. Erase and write reach only the
//   bank the downloader selector names (else C9h); read reaches the device's whole flash.
// - An erase takes any address inside its unit: an 8-KiB boot block in the first 64 KiB of a
//   bank with 64-KiB sectors, else the sector (256 KiB with chip 4's sector code 2).
// - A write only clears bits and answers 00h whatever the cells kept: unerased cells corrupt
//   the data silently and only a read-back finds it.
// - Downloader selector 01h/02h names a bank, FFh the bank that is not running (the only bank
//   of a single-bank device). Image selector 01h/02h names the bank to boot, 04h the
//   downloader's bank. Bank 2 on a single-bank device answers CCh.
// - Get Firmware Image Selector answers 00h and the selected bank; Get Firmware Image
//   Downloader Selector the downloader's bank, the running bank and the bank's start address.
#include "bmcsim/model/command_families.h"
#include "bmcsim/model/flash_layout.h"

namespace bmcsim {
namespace {

constexpr uint8_t kStandbyBank = 0xFF;
constexpr uint8_t kDownloaderBank = 0x04;
constexpr uint8_t kChipCodes = 0x01;  // what chips 0 to 3 report as size and sector code
constexpr size_t kMaxResponse = 255;
constexpr size_t kReadOverhead = 3;  // network function, command, completion code

bool ChipBusy(CommandContext& context) {
  return EraseBusy(context.state.firmware, context.clock.MonotonicMs());
}

// The bank of a selector byte, or 0 when the device has no such bank.
uint8_t NamedBank(const BmcState& state, uint8_t value) {
  return value >= 1 && value <= BankCount(state) ? value : 0;
}

// The downloader's bank must hold the whole range.
bool LocateDownload(const BmcState& state, uint32_t address, uint64_t length, uint8_t* bank,
                    uint32_t* offset) {
  return LocateRange(state, address, length, bank, offset) && *bank == state.firmware.downloaderBank;
}

Reply FwIdChip(CommandContext& context, wire::ByteReader& request) {
  uint8_t index = 0;
  if (!request.U8(&index) || !request.AtEnd()) return Reply::Error(kCcRequestLength);
  if (ChipBusy(context)) return Reply::Error(kCcBusy);
  const FlashChip& chip = context.state.firmware.chip;
  if (chip.index != index) return Reply::Ok();
  bool reportsCodes = index == kChipWithCodes;
  return Reply::Ok(
      {index, reportsCodes ? chip.sizeCode : kChipCodes, reportsCodes ? chip.sectorCode : kChipCodes});
}

Reply FirmwareErase(CommandContext& context, wire::ByteReader& request) {
  uint32_t address = 0;
  if (!request.U32(&address) || !request.AtEnd()) return Reply::Error(kCcRequestLength);
  if (ChipBusy(context)) return Reply::Error(kCcBusy);
  FirmwareState& firmware = context.state.firmware;
  uint8_t bank = 0;
  uint32_t offset = 0;
  if (!LocateDownload(context.state, address, 1, &bank, &offset)) return Reply::Error(kCcOutOfRange);
  FlashSpan unit = EraseUnitAt(firmware, offset);
  firmware.banks[bank - 1].Erase(unit.offset, unit.length);
  context.flashChanges.push_back(FlashChange{bank, unit.offset, unit.length, true});
  ++firmware.activity[bank - 1].erases;
  firmware.writtenSinceBoot[bank - 1] = true;
  firmware.eraseRunning = firmware.eraseMs > 0;
  firmware.eraseStartMs = firmware.eraseRunning ? context.clock.MonotonicMs() : 0;
  return Reply::Ok();
}

Reply FirmwareWrite(CommandContext& context, wire::ByteReader& request) {
  uint32_t address = 0;
  if (!request.U32(&address) || request.AtEnd()) return Reply::Error(kCcRequestLength);
  wire::Bytes data = request.Rest();
  if (ChipBusy(context)) return Reply::Error(kCcBusy);
  FirmwareState& firmware = context.state.firmware;
  uint8_t bank = 0;
  uint32_t offset = 0;
  if (!LocateDownload(context.state, address, data.size(), &bank, &offset))
    return Reply::Error(kCcOutOfRange);
  firmware.banks[bank - 1].Program(offset, data.data(), data.size());
  context.flashChanges.push_back(FlashChange{bank, offset, static_cast<uint32_t>(data.size()), false});
  BankActivity& activity = firmware.activity[bank - 1];
  ++activity.writes;
  firmware.writtenSinceBoot[bank - 1] = true;
  activity.bytesWritten += data.size();
  return Reply::Ok();
}

Reply FirmwareRead(CommandContext& context, wire::ByteReader& request) {
  uint32_t address = 0;
  uint8_t count = 0;
  if (!request.U32(&address) || !request.U8(&count) || !request.AtEnd())
    return Reply::Error(kCcRequestLength);
  if (ChipBusy(context)) return Reply::Error(kCcBusy);
  if (count == 0) return Reply::Error(kCcInvalidField);
  if (count + kReadOverhead > kMaxResponse) return Reply::Error(kCcCannotReturnBytes);
  uint8_t bank = 0;
  uint32_t offset = 0;
  if (!LocateRange(context.state, address, count, &bank, &offset)) return Reply::Error(kCcOutOfRange);
  return Reply::Ok(context.state.firmware.banks[bank - 1].Read(offset, count));
}

Reply SetImageSelector(CommandContext& context, wire::ByteReader& request) {
  uint8_t value = 0;
  if (!request.U8(&value) || !request.AtEnd()) return Reply::Error(kCcRequestLength);
  FirmwareState& firmware = context.state.firmware;
  uint8_t bank = value == kDownloaderBank ? firmware.downloaderBank : NamedBank(context.state, value);
  if (bank == 0) return Reply::Error(kCcInvalidField);
  firmware.imageSelector = bank;
  return Reply::Ok();
}

Reply GetImageSelector(CommandContext& context, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  return Reply::Ok({0x00, context.state.firmware.imageSelector});
}

Reply SetDownloaderSelector(CommandContext& context, wire::ByteReader& request) {
  uint8_t value = 0;
  if (!request.U8(&value) || !request.AtEnd()) return Reply::Error(kCcRequestLength);
  uint8_t bank = value == kStandbyBank ? StandbyBank(context.state) : NamedBank(context.state, value);
  if (bank == 0) return Reply::Error(kCcInvalidField);
  context.state.firmware.downloaderBank = bank;
  return Reply::Ok();
}

Reply GetDownloaderSelector(CommandContext& context, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  const FirmwareState& firmware = context.state.firmware;
  wire::ByteWriter out;
  out.U8(firmware.downloaderBank);
  out.U8(firmware.runningBank);
  out.U32(BankStart(firmware, firmware.downloaderBank));
  return Reply::Ok(out.Take());
}

}  // namespace

void RegisterFirmwareCommands(CommandTable& table) {
  table.Register(kNetFnFirmware, 0x00, FwIdChip);
  table.Register(kNetFnFirmware, 0x01, FirmwareErase);
  table.Register(kNetFnFirmware, 0x02, FirmwareWrite);
  table.Register(kNetFnFirmware, 0x03, FirmwareRead);
  table.Register(kNetFnFirmware, 0x04, SetImageSelector);
  table.Register(kNetFnFirmware, 0x05, GetImageSelector);
  table.Register(kNetFnFirmware, 0x06, SetDownloaderSelector);
  table.Register(kNetFnFirmware, 0x07, GetDownloaderSelector);
}

}  // namespace bmcsim
