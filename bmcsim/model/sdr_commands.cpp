// The standard SDR repository commands (Storage network function) on the active repository.
#include "bmcsim/model/command_families.h"
#include "bmcsim/model/sdr_access.h"

namespace bmcsim {
namespace {

constexpr uint8_t kSdrVersion = 0x51;
// Non-modal updates, Partial Add and Reserve supported; no Delete, no allocation info.
constexpr uint8_t kOperationSupport = 0x26;
constexpr uint32_t kMaxReportedFree = 0xFFFE;  // FFFEh stands for "64 KiB - 2 or more"

Reply GetSdrRepositoryInfo(CommandContext& context, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  const SdrRepository& active = context.state.active;
  size_t used = RecordBytes(active.records);
  size_t capacity = context.state.settings.capacity;
  size_t free = used < capacity ? capacity - used : 0;
  size_t count = active.records.size();
  wire::ByteWriter out;
  out.U8(kSdrVersion);
  out.U16(static_cast<uint16_t>(count < 0xFFFF ? count : 0xFFFF));
  out.U16(static_cast<uint16_t>(free < kMaxReportedFree ? free : kMaxReportedFree));
  out.U32(active.additionStamp);
  out.U32(active.eraseStamp);
  out.U8(kOperationSupport);
  return Reply::Ok(out.Take());
}

Reply ReserveSdrRepository(CommandContext& context, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  return ReserveRepository(context, context.state.active);
}

Reply GetSdr(CommandContext& context, wire::ByteReader& request) {
  return ReadRecord(context.state.active, request);
}

}  // namespace

void RegisterSdrCommands(CommandTable& table) {
  table.Register(kNetFnStorage, 0x20, GetSdrRepositoryInfo);
  table.Register(kNetFnStorage, 0x22, ReserveSdrRepository);
  table.Register(kNetFnStorage, 0x23, GetSdr);
}

}  // namespace bmcsim
