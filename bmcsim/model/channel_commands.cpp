// Get and Set Channel Access (App network function) for channel 2, the only channel with an
// access setting.
//
// Choices where IPMI leaves the BMC's behaviour open:
// - Every other channel number, including 0Eh (this channel: the session-less system
//   interface) and 0Fh, answers 82h, as a BMC does for a channel without access settings.
// - Reserved bits set in a request answer CCh; a "set" selector of 11b answers 83h, an access
//   mode above 3 (shared) 83h too.
// - The privilege limit must be 1 (callback) to 5 (OEM) only when it is being set; with
//   selector 00b the field is ignored, whatever it holds.
#include "bmcsim/model/command_families.h"

namespace bmcsim {
namespace {

constexpr uint8_t kChannel = 0x02;
constexpr uint8_t kChannelMask = 0x0F;
constexpr uint8_t kSelectorShift = 6;
constexpr uint8_t kDoNotSet = 0;
constexpr uint8_t kNonVolatile = 1;
constexpr uint8_t kVolatile = 2;
constexpr uint8_t kAccessBits = 0x3F;  // alerting, authentication bits, access mode
constexpr uint8_t kAccessModeMask = 0x07;
constexpr uint8_t kHighestAccessMode = 3;  // shared
constexpr uint8_t kPrivilegeMask = 0x0F;
constexpr uint8_t kPrivilegeReserved = 0x30;
constexpr uint8_t kLowestPrivilege = 1;   // callback
constexpr uint8_t kHighestPrivilege = 5;  // OEM

uint8_t Selector(uint8_t byte) {
  return static_cast<uint8_t>(byte >> kSelectorShift);
}

ChannelAccess* SettingFor(ChannelAccessSettings& channel, uint8_t selector) {
  if (selector == kVolatile) return &channel.active;
  if (selector == kNonVolatile) return &channel.nonVolatile;
  return nullptr;
}

Reply GetChannelAccess(CommandContext& context, wire::ByteReader& request) {
  uint8_t channel = 0;
  uint8_t which = 0;
  if (!request.U8(&channel) || !request.U8(&which) || !request.AtEnd()) return Reply::Error(kCcRequestLength);
  uint8_t selector = Selector(which);
  if ((channel & ~kChannelMask) || (which & ~0xC0) || (selector != kVolatile && selector != kNonVolatile)) {
    return Reply::Error(kCcInvalidField);
  }
  if (channel != kChannel) return Reply::Error(kCcNotForChannel);
  const ChannelAccess& setting = *SettingFor(context.state.channel2, selector);
  return Reply::Ok({setting.access, setting.privilege});
}

Reply SetChannelAccess(CommandContext& context, wire::ByteReader& request) {
  uint8_t channel = 0;
  uint8_t access = 0;
  uint8_t privilege = 0;
  if (!request.U8(&channel) || !request.U8(&access) || !request.U8(&privilege) || !request.AtEnd()) {
    return Reply::Error(kCcRequestLength);
  }
  uint8_t accessSelector = Selector(access);
  uint8_t privilegeSelector = Selector(privilege);
  uint8_t limit = privilege & kPrivilegeMask;
  if ((channel & ~kChannelMask) || (privilege & kPrivilegeReserved)) return Reply::Error(kCcInvalidField);
  if (privilegeSelector != kDoNotSet && (limit < kLowestPrivilege || limit > kHighestPrivilege)) {
    return Reply::Error(kCcInvalidField);
  }
  if (channel != kChannel) return Reply::Error(kCcNotForChannel);
  bool reservedSelector = accessSelector == 3 || privilegeSelector == 3;
  bool unsupportedMode = accessSelector != kDoNotSet && (access & kAccessModeMask) > kHighestAccessMode;
  if (reservedSelector || unsupportedMode) return Reply::Error(kCcAccessModeNotSupported);
  ChannelAccessSettings& settings = context.state.channel2;
  if (ChannelAccess* setting = SettingFor(settings, accessSelector)) setting->access = access & kAccessBits;
  if (ChannelAccess* setting = SettingFor(settings, privilegeSelector)) setting->privilege = limit;
  return Reply::Ok();
}

}  // namespace

void RegisterChannelCommands(CommandTable& table) {
  table.Register(kNetFnApp, 0x40, SetChannelAccess);
  table.Register(kNetFnApp, 0x41, GetChannelAccess);
}

}  // namespace bmcsim
