#pragma once
#include <cstdint>

#include "ipmi/command.h"

// The vendor's firmware commands (network function 08h): flash ID chip, erase, write and read
// of the flash, and the image and downloader selectors.
namespace ipmi {

// The answer to FW ID Chip. The fitted chip echoes its index, then its size code and sector
// code; any other index answers without data. While an erase runs, the chip answers busy:
// the same command is the erase's completion poll.
struct ChipId {
  bool echoed = false;  // data byte 1 is there
  uint8_t index = 0;
  bool hasSizeCode = false;
  uint8_t sizeCode = 0;
  bool hasSectorCode = false;
  uint8_t sectorCode = 0;
};
Command<ChipId> FwIdChip(uint8_t index);

// Erases the 8-KiB block or the sector that holds address.
Command<Done> FirmwareErase(uint32_t address);
// Writes the bytes from address on. The answer's length is not examined: what the BMC adds to
// its answer does not undo the write.
Command<Done> FirmwareWrite(uint32_t address, const uint8_t* bytes, uint8_t count);
// Reads count bytes from address; the answer holds exactly those bytes.
Command<wire::Bytes> FirmwareRead(uint32_t address, uint8_t count);

// Set Firmware Image Selector: which bank boots.
Command<Done> SetImageSelector(uint8_t value);
// Get Firmware Image Selector: the bank that boots, 1 or 2.
Command<uint8_t> GetImageSelector();
// Set Firmware Image Downloader Selector: the bank the erase and write commands reach.
Command<Done> SetDownloaderSelector(uint8_t bank);

struct DownloaderSelector {
  uint8_t byte1 = 0, byte2 = 0;  // not used by the programs
  uint32_t address = 0;          // the start address of the selected bank
};
// Get Firmware Image Downloader Selector.
Command<DownloaderSelector> GetDownloaderSelector();

// Downloader selector value: the bank that is not running.
constexpr uint8_t kStandbyBank = 0xFF;
// Image selector value: the bank the downloader selector names.
constexpr uint8_t kDownloaderBank = 0x04;

}  // namespace ipmi
