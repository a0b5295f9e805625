#include "ipmi/device_commands.h"

#include <cstdio>

namespace ipmi {
namespace {

constexpr size_t kAuxRevisionBytes = 4;
constexpr uint8_t kAccessModeBits = 0x07;
constexpr uint8_t kHighestAccessMode = 3;  // disabled, pre-boot only, always, shared
constexpr uint8_t kPrivilegeBits = 0x0F;
constexpr uint8_t kLowestPrivilege = 1;  // callback .. OEM
constexpr uint8_t kHighestPrivilege = 5;

Request AppRequest(uint8_t command, wire::Bytes data = {}) {
  return MakeRequest(NetFn::kApp, command, std::move(data));
}

}  // namespace

std::string DeviceId::HardwareId() const {
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x", productId >> 8, productId & 0xFF);
  return text;
}

std::string DeviceId::FirmwareVersion() const {
  char text[8];
  std::snprintf(text, sizeof text, "%02x.%02x", firmwareRevision1, firmwareRevision2);
  return text;
}

Command<DeviceId> GetDeviceId() {
  return {AppRequest(cmd::kGetDeviceId), [](wire::ByteReader& data, DeviceId* id) {
            // The backup image keeps the bytes as they came.
            wire::ByteReader whole = data;
            whole.Take(whole.Remaining(), &id->data);
            if (!data.U8(&id->deviceId) || !data.U8(&id->deviceRevision) ||
                !data.U8(&id->firmwareRevision1) || !data.U8(&id->firmwareRevision2) ||
                !data.U8(&id->ipmiVersion) || !data.U8(&id->additionalSupport) ||
                !data.U24(&id->manufacturerId) || !data.U16(&id->productId)) {
              return Malformed::kLength;
            }
            if (!data.AtEnd()) {
              if (!data.Skip(kAuxRevisionBytes)) return Malformed::kLength;
              id->hasAuxRevision = true;
            }
            return Malformed::kNone;
          }};
}

Command<ChannelAccess> GetChannelAccess(uint8_t channel, AccessSet which) {
  return {AppRequest(cmd::kGetChannelAccess, {channel, static_cast<uint8_t>(which)}),
          [](wire::ByteReader& data, ChannelAccess* out) {
            if (!data.U8(&out->access) || !data.U8(&out->privilege)) return Malformed::kLength;
            const uint8_t limit = out->privilege & kPrivilegeBits;
            const bool possible = (out->access & kAccessModeBits) <= kHighestAccessMode &&
                                  limit >= kLowestPrivilege && limit <= kHighestPrivilege;
            return possible ? Malformed::kNone : Malformed::kValue;
          }};
}

Command<Done> SetChannelAccess(uint8_t channel, uint8_t access, uint8_t privilege) {
  return {AppRequest(cmd::kSetChannelAccess, {channel, access, privilege}), NoData};
}

}  // namespace ipmi
