#include "runcontrol/device_identity.h"

#include <cstdio>

#include "wire/byte_io.h"

namespace runcontrol {
namespace {

constexpr uint8_t kCmdGetDeviceId = 0x01;
constexpr size_t kShortAnswer = 14;
constexpr size_t kLongAnswer = 18;  // with the auxiliary firmware revision

}  // namespace

std::string DeviceIdentity::HardwareId() const {
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x", productId >> 8, productId & 0xFF);
  return text;
}

std::string DeviceIdentity::FirmwareVersion() const {
  char text[8];
  std::snprintf(text, sizeof text, "%02x.%02x", firmwareRevision1, firmwareRevision2);
  return text;
}

IdentityResult QueryDeviceIdentity(transport::IpmiTransport& transport, DeviceIdentity* identity,
                                   transport::IpmiRequest* request, transport::IpmiResponse* response) {
  *request = transport::IpmiRequest{};
  request->bytes[0] = 0x18;
  request->bytes[1] = kCmdGetDeviceId;
  request->length = 2;
  response->length = 0;
  const transport::ExchangeStatus status = transport::IpmiExchange(transport, *request, response);
  if (status == transport::kTransferFailed) return IdentityResult::kTransferFailed;
  if (status != transport::kExchangeOk) return IdentityResult::kDriverUnreachable;
  if (response->length != kShortAnswer && response->length != kLongAnswer) return IdentityResult::kBadAnswer;

  wire::ByteReader answer(response->bytes, response->length);
  uint8_t completion = 0xFF, deviceRevision = 0, additional = 0;
  uint32_t manufacturer = 0;
  DeviceIdentity id;
  answer.Skip(2);  // network function, command
  if (!answer.U8(&completion) || completion != 0x00) return IdentityResult::kBadAnswer;
  if (!answer.U8(&id.deviceId) || !answer.U8(&deviceRevision) || !answer.U8(&id.firmwareRevision1) ||
      !answer.U8(&id.firmwareRevision2) || !answer.U8(&id.ipmiVersion) || !answer.U8(&additional) ||
      !answer.U24(&manufacturer) || !answer.U16(&id.productId)) {
    return IdentityResult::kBadAnswer;
  }
  id.hasAuxRevision = response->length == kLongAnswer;
  *identity = id;
  return IdentityResult::kOk;
}

}  // namespace runcontrol
