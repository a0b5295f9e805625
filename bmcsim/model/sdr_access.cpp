#include "bmcsim/model/sdr_access.h"

namespace bmcsim {
namespace {

constexpr uint8_t kWholeRecord = 0xFF;
// Response bytes besides the record data: netfn, command, code, next record ID.
constexpr size_t kGetSdrOverhead = 5;
constexpr size_t kMaxResponse = 255;

}  // namespace

bool ReservationValid(const SdrRepository& repository, uint16_t reservation, bool allowNone) {
  if (reservation == 0) return allowNone;
  return reservation == repository.reservation;
}

Reply ReserveRepository(CommandContext& context, SdrRepository& repository) {
  repository.reservation = NextReservationId(context.state);
  wire::ByteWriter out;
  out.U16(repository.reservation);
  return Reply::Ok(out.Take());
}

Reply ReadRecord(const SdrRepository& repository, wire::ByteReader& request) {
  uint16_t reservation = 0;
  uint16_t recordId = 0;
  uint8_t offset = 0;
  uint8_t count = 0;
  if (!request.U16(&reservation) || !request.U16(&recordId) || !request.U8(&offset) || !request.U8(&count) ||
      !request.AtEnd()) {
    return Reply::Error(kCcRequestLength);
  }
  if (!ReservationValid(repository, reservation, offset == 0)) return Reply::Error(kCcReservationCancelled);
  long index = FindRecord(repository.records, recordId);
  if (index < 0) return Reply::Error(kCcNotPresent);
  const SdrRecord& record = repository.records[static_cast<size_t>(index)];
  if (offset > record.size()) return Reply::Error(kCcCannotReturnBytes);
  size_t available = record.size() - offset;
  size_t bytes = count == kWholeRecord ? available : count;
  if (bytes > available || bytes + kGetSdrOverhead > kMaxResponse) return Reply::Error(kCcCannotReturnBytes);
  wire::ByteWriter out;
  out.U16(NextRecordId(repository.records, static_cast<size_t>(index)));
  out.Append(record.data() + offset, bytes);
  return Reply::Ok(out.Take());
}

}  // namespace bmcsim
