// Get Device ID and the OEM identity query.
#include "bmcsim/model/command_families.h"

namespace bmcsim {
namespace {

Reply GetDeviceId(CommandContext& context, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  const DeviceIdentity& id = context.state.identity;
  wire::ByteWriter out;
  out.U8(id.deviceId);
  out.U8(id.deviceRevision);
  out.U8(id.firmwareRevision1);
  out.U8(id.firmwareRevision2);
  out.U8(id.ipmiVersion);
  out.U8(id.additionalSupport);
  out.U16(static_cast<uint16_t>(id.manufacturerId));  // 3 bytes, low first
  out.U8(static_cast<uint8_t>(id.manufacturerId >> 16));
  out.U16(id.productId);
  if (id.auxPresent) out.Append(id.auxRevision, sizeof id.auxRevision);
  return Reply::Ok(out.Take());
}

// The host's driver turns the system interface's interrupts on here; the external-BMC server
// passes them on to QEMU's interface.
Reply GetGlobalEnables(CommandContext& context, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  return Reply::Ok(wire::Bytes{context.state.globalEnables});
}

Reply SetGlobalEnables(CommandContext& context, wire::ByteReader& request) {
  uint8_t enables = 0;
  if (!request.U8(&enables) || !request.AtEnd()) return Reply::Error(kCcRequestLength);
  if (enables & kGlobalEnablesReserved) return Reply::Error(kCcInvalidField);
  context.state.globalEnables = enables;
  return Reply::Ok({});
}

// No message queue, no event buffer: nothing is ever flagged, so clearing has nothing to do.
Reply GetMessageFlags(CommandContext&, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  return Reply::Ok(wire::Bytes{0x00});
}

Reply ClearMessageFlags(CommandContext&, wire::ByteReader& request) {
  uint8_t flags = 0;
  if (!request.U8(&flags) || !request.AtEnd()) return Reply::Error(kCcRequestLength);
  return Reply::Ok({});
}

Reply GetOemE0Info(CommandContext& context, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  const uint8_t* info = context.state.settings.oemE0;
  return Reply::Ok(wire::Bytes(info, info + 3));
}

}  // namespace

void RegisterDeviceCommands(CommandTable& table) {
  table.Register(kNetFnApp, 0x01, GetDeviceId);
  table.Register(kNetFnApp, kCmdSetGlobalEnables, SetGlobalEnables);
  table.Register(kNetFnApp, 0x2F, GetGlobalEnables);
  table.Register(kNetFnApp, 0x30, ClearMessageFlags);
  table.Register(kNetFnApp, 0x31, GetMessageFlags);
  table.Register(kNetFnOem, 0xE0, GetOemE0Info);
}

}  // namespace bmcsim
