#pragma once
#include <cstdint>
#include <string>

#include "ipmi/command.h"

// Application commands: the BMC's identity and the access setting of a channel.
namespace ipmi {

struct DeviceId {
  uint8_t deviceId = 0;
  uint8_t deviceRevision = 0;
  uint8_t firmwareRevision1 = 0;  // taken whole, bit 7 included
  uint8_t firmwareRevision2 = 0;
  uint8_t ipmiVersion = 0;
  uint8_t additionalSupport = 0;
  uint32_t manufacturerId = 0;  // 24 bits
  uint16_t productId = 0;
  bool hasAuxRevision = false;  // the 15-byte form with the auxiliary firmware revision
  wire::Bytes data;             // the data bytes as they came (11 or 15)

  // "%02x%02x" of the product ID, most significant byte first: the key of mchk_fil.
  std::string HardwareId() const;
  // "%02x.%02x" of the two firmware revision bytes.
  std::string FirmwareVersion() const;
};
// Get Device ID: 11 data bytes, or 15 with the auxiliary firmware revision.
Command<DeviceId> GetDeviceId();

struct ChannelAccess {
  uint8_t access = 0;     // alerting, per-message and user-level authentication, access mode
  uint8_t privilege = 0;  // privilege limit in bits 3..0
};
// Channel access settings to read or write.
enum class AccessSet : uint8_t {
  kNonVolatile = 0x40,
  kVolatile = 0x80,  // the active setting
};
// Get Channel Access. An access mode beyond 3 or a privilege limit outside 1..5 is no setting
// a channel can have.
Command<ChannelAccess> GetChannelAccess(uint8_t channel, AccessSet which);
// Set Channel Access: access goes to the chosen set (its bits 7..6 say which); privilege bits
// 7..6 of 00b leave the privilege limit unchanged.
Command<Done> SetChannelAccess(uint8_t channel, uint8_t access, uint8_t privilege);

}  // namespace ipmi
