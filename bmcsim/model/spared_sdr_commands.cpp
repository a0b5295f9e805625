// The spared SDR repository behind the OEM network function: an update is written there
// under the update lock and becomes the active repository when the lock is released with
// "success".
//
// Choices where the command set leaves the BMC's behaviour open:
// - Taking the lock (mode 0) starts the spared repository as a copy of the active one; taking
//   it again while held starts over the same way (the earlier holder is presumed gone).
// - Reserve, Get SDR, Partial Add and Erase answer D5h while the lock is not held; Get SDR
//   and Partial Add also while an erase is still in progress. Releasing a lock that is not
//   held answers D5h too.
// - Partial Add: record ID 0000h with offset 0 starts a record and the BMC assigns its ID
//   (never 0000h or FFFFh); later chunks must name that ID (else CBh) and continue exactly
//   where the received bytes end (else CCh). More bytes than the header's body length, or a
//   last chunk that leaves the record short, answer 80h and drop the record. A record that
//   does not fit the capacity answers C4h.
// - Reservation 0000h is never valid for Partial Add or Erase.
#include <algorithm>

#include "bmcsim/model/command_families.h"
#include "bmcsim/model/sdr_access.h"

namespace bmcsim {
namespace {

constexpr uint8_t kLockTake = 0x00;
constexpr uint8_t kLockReleaseFailure = 0x01;
constexpr uint8_t kLockReleaseSuccess = 0x02;
constexpr uint8_t kEraseStart = 0xAA;
constexpr uint8_t kEraseStatus = 0x00;
constexpr uint8_t kEraseInProgress = 0x00;
constexpr uint8_t kEraseCompleted = 0x01;
constexpr uint8_t kAddInProgress = 0x00;
constexpr uint8_t kAddLastChunk = 0x01;

Reply Done() {
  return Reply::Ok();
}

Reply RecordIdReply(uint16_t id) {
  wire::ByteWriter out;
  out.U16(id);
  return Reply::Ok(out.Take());
}

// The ID after the highest in use, or the lowest free one once the top is reached; 0 when
// every ID is taken.
uint16_t AssignRecordId(const SparedSdr& spared) {
  uint32_t highest = 0;
  for (const SdrRecord& r : spared.repository.records) highest = std::max<uint32_t>(highest, RecordId(r));
  if (highest + 1 < kLastRecordId) return static_cast<uint16_t>(highest + 1);
  std::vector<bool> used(0x10000, false);
  for (const SdrRecord& r : spared.repository.records) used[RecordId(r)] = true;
  for (uint32_t id = 1; id < kLastRecordId; ++id) {
    if (!used[id]) return static_cast<uint16_t>(id);
  }
  return 0;
}

Reply SetSparedSdrLock(CommandContext& context, wire::ByteReader& request) {
  uint8_t mode = 0;
  if (!request.U8(&mode) || !request.AtEnd()) return Reply::Error(kCcRequestLength);
  BmcState& state = context.state;
  switch (mode) {
    case kLockTake:
      ReleaseSparedSdr(state);
      state.spared.lockHeld = true;
      state.spared.repository = state.active;
      state.spared.repository.reservation = 0;
      return Done();
    case kLockReleaseFailure:
      if (!state.spared.lockHeld) return Reply::Error(kCcNotInPresentState);
      ReleaseSparedSdr(state);
      return Done();
    case kLockReleaseSuccess:
      if (!state.spared.lockHeld) return Reply::Error(kCcNotInPresentState);
      // The active repository is replaced whole: an erase and additions, and whoever was
      // reading it loses the reservation.
      state.active.records = std::move(state.spared.repository.records);
      state.active.eraseStamp = context.Stamp();
      state.active.additionStamp = context.Stamp();
      state.active.reservation = 0;
      ReleaseSparedSdr(state);
      return Done();
    default:
      return Reply::Error(kCcInvalidField);
  }
}

Reply ReserveSparedSdr(CommandContext& context, wire::ByteReader& request) {
  if (!request.AtEnd()) return Reply::Error(kCcRequestLength);
  SparedSdr& spared = context.state.spared;
  if (!spared.lockHeld) return Reply::Error(kCcNotInPresentState);
  // A record half written under the old reservation cannot be finished any more.
  spared.pending.reset();
  return ReserveRepository(context, spared.repository);
}

Reply GetSparedSdr(CommandContext& context, wire::ByteReader& request) {
  const SparedSdr& spared = context.state.spared;
  if (!spared.lockHeld || spared.eraseInProgress) return Reply::Error(kCcNotInPresentState);
  return ReadRecord(spared.repository, request);
}

Reply PartialAddSparedSdr(CommandContext& context, wire::ByteReader& request) {
  uint16_t reservation = 0;
  uint16_t recordId = 0;
  uint8_t offset = 0;
  uint8_t progress = 0;
  if (!request.U16(&reservation) || !request.U16(&recordId) || !request.U8(&offset) ||
      !request.U8(&progress)) {
    return Reply::Error(kCcRequestLength);
  }
  wire::Bytes chunk = request.Rest();
  SparedSdr& spared = context.state.spared;
  if (!spared.lockHeld || spared.eraseInProgress) return Reply::Error(kCcNotInPresentState);
  if (!ReservationValid(spared.repository, reservation, false)) return Reply::Error(kCcReservationCancelled);
  if (progress != kAddInProgress && progress != kAddLastChunk) return Reply::Error(kCcInvalidField);

  if (recordId == kFirstRecordId) {
    if (offset != 0) return Reply::Error(kCcInvalidField);
    spared.pending.reset();
    uint16_t id = AssignRecordId(spared);
    if (id == 0) return Reply::Error(kCcOutOfSpace);
    spared.pending = PendingAdd{id, std::move(chunk)};
  } else {
    if (!spared.pending || spared.pending->recordId != recordId) return Reply::Error(kCcNotPresent);
    if (offset != spared.pending->bytes.size()) return Reply::Error(kCcInvalidField);
    spared.pending->bytes.insert(spared.pending->bytes.end(), chunk.begin(), chunk.end());
  }

  PendingAdd& pending = *spared.pending;
  uint16_t id = pending.recordId;
  size_t received = pending.bytes.size();
  bool headerComplete = received >= kSdrHeaderSize;
  size_t total = headerComplete ? kSdrHeaderSize + pending.bytes[4] : 0;
  bool tooLong = headerComplete && received > total;
  bool shortAtEnd = progress == kAddLastChunk && (!headerComplete || received != total);
  if (tooLong || shortAtEnd) {
    spared.pending.reset();
    return Reply::Error(kCcLengthMismatch);
  }
  if (progress == kAddInProgress) return RecordIdReply(id);

  if (RecordBytes(spared.repository.records) + total > context.state.settings.capacity) {
    spared.pending.reset();
    return Reply::Error(kCcOutOfSpace);
  }
  SdrRecord record = std::move(pending.bytes);
  SetRecordId(&record, id);
  spared.pending.reset();
  spared.repository.records.push_back(std::move(record));
  spared.repository.additionStamp = context.Stamp();
  return RecordIdReply(id);
}

Reply ClearSparedSdr(CommandContext& context, wire::ByteReader& request) {
  uint16_t reservation = 0;
  wire::Bytes letters;
  uint8_t operation = 0;
  if (!request.U16(&reservation) || !request.Take(3, &letters) || !request.U8(&operation) ||
      !request.AtEnd()) {
    return Reply::Error(kCcRequestLength);
  }
  SparedSdr& spared = context.state.spared;
  if (!spared.lockHeld) return Reply::Error(kCcNotInPresentState);
  if (!ReservationValid(spared.repository, reservation, false)) return Reply::Error(kCcReservationCancelled);
  if (letters != wire::Bytes{'C', 'L', 'R'}) return Reply::Error(kCcInvalidField);
  if (operation == kEraseStart) {
    spared.repository.records.clear();
    spared.pending.reset();
    spared.repository.eraseStamp = context.Stamp();
    spared.erasePollsLeft = context.state.settings.erasePolls;
    spared.eraseInProgress = spared.erasePollsLeft > 0;
  } else if (operation == kEraseStatus) {
    if (spared.eraseInProgress && --spared.erasePollsLeft == 0) spared.eraseInProgress = false;
  } else {
    return Reply::Error(kCcInvalidField);
  }
  return Reply::Ok({spared.eraseInProgress ? kEraseInProgress : kEraseCompleted});
}

}  // namespace

void RegisterSparedSdrCommands(CommandTable& table) {
  table.Register(kNetFnOem, 0x10, SetSparedSdrLock);
  table.Register(kNetFnOem, 0x11, ReserveSparedSdr);
  table.Register(kNetFnOem, 0x12, GetSparedSdr);
  table.Register(kNetFnOem, 0x13, PartialAddSparedSdr);
  table.Register(kNetFnOem, 0x14, ClearSparedSdr);
}

}  // namespace bmcsim
