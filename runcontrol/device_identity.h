#pragma once
#include <cstdint>
#include <string>

#include "transport/ipmi_exchange.h"

namespace runcontrol {

// What Get Device ID tells both programs about the BMC.
struct DeviceIdentity {
  uint8_t deviceId = 0;
  uint8_t firmwareRevision1 = 0;  // taken whole, bit 7 included
  uint8_t firmwareRevision2 = 0;
  uint8_t ipmiVersion = 0;
  uint16_t productId = 0;
  bool hasAuxRevision = false;  // the 18-byte answer

  // "%02x%02x" of the product ID, most significant byte first: the key of mchk_fil.
  std::string HardwareId() const;
  // "%02x.%02x" of the two firmware revision bytes.
  std::string FirmwareVersion() const;
};

enum class IdentityResult {
  kOk,
  kDriverUnreachable,  // the driver cannot be opened
  kTransferFailed,
  kBadAnswer,  // a length other than 14 or 18, or a completion code other than 00h
};

// Sends Get Device ID. request and response receive the exchange for the caller's log.
IdentityResult QueryDeviceIdentity(transport::IpmiTransport& transport, DeviceIdentity* identity,
                                   transport::IpmiRequest* request, transport::IpmiResponse* response);

}  // namespace runcontrol
