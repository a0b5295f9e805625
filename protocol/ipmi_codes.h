#pragma once
#include <cstdint>

// The numbers of the IPMI commands both programs send, kept in this one place.
namespace ipmi {

// Network functions of the requests; a request's byte 0 is the function times 4 (LUN 0), the
// answer's the function plus 1, times 4.
enum class NetFn : uint8_t {
  kApp = 0x06,
  kFirmware = 0x08,  // the vendor's firmware commands
  kStorage = 0x0A,
  kOem = 0x3E,  // the vendor's spared SDR repository
};

// Completion codes the programs act on.
constexpr uint8_t kCcSuccess = 0x00;
constexpr uint8_t kCcBusy = 0xC0;
constexpr uint8_t kCcTimeout = 0xC3;
// Firmware Write: the chunk may not have been written; it is read back.
constexpr uint8_t kCcWriteUnverified = 0xC4;
constexpr uint8_t kCcReservationCancelled = 0xC5;
// The spared repository's update lock is held (by an earlier sending of the same request,
// after a 0xFF re-send on the Microsoft driver's path).
constexpr uint8_t kCcLockHeld = 0xCE;
// The Microsoft driver's answer when the BMC did not answer in time.
constexpr uint8_t kCcUnspecified = 0xFF;

namespace cmd {
// Application
constexpr uint8_t kGetDeviceId = 0x01;
constexpr uint8_t kSetChannelAccess = 0x40;
constexpr uint8_t kGetChannelAccess = 0x41;
// Storage
constexpr uint8_t kGetSdrRepositoryInfo = 0x20;
constexpr uint8_t kReserveSdrRepository = 0x22;
constexpr uint8_t kGetSdr = 0x23;
// OEM: the spared repository, and the vendor's query of the backup image
constexpr uint8_t kSparedUpdateLock = 0x10;
constexpr uint8_t kSparedReserve = 0x11;
constexpr uint8_t kSparedGetSdr = 0x12;
constexpr uint8_t kSparedPartialAdd = 0x13;
constexpr uint8_t kSparedClear = 0x14;
constexpr uint8_t kOemE0Info = 0xE0;
// Firmware
constexpr uint8_t kFwIdChip = 0x00;
constexpr uint8_t kFirmwareErase = 0x01;
constexpr uint8_t kFirmwareWrite = 0x02;
constexpr uint8_t kFirmwareRead = 0x03;
constexpr uint8_t kSetImageSelector = 0x04;
constexpr uint8_t kGetImageSelector = 0x05;
constexpr uint8_t kSetDownloaderSelector = 0x06;
constexpr uint8_t kGetDownloaderSelector = 0x07;
}  // namespace cmd

}  // namespace ipmi
