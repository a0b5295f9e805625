#include "ipmi/sdr_repository_commands.h"

namespace ipmi {
namespace {

constexpr size_t kRepositoryInfoBytes = 14;
constexpr size_t kOemE0Bytes = 3;

Malformed ReadU16(wire::ByteReader& data, uint16_t* value) {
  return data.U16(value) ? Malformed::kNone : Malformed::kLength;
}

Malformed ReadU8(wire::ByteReader& data, uint8_t* value) {
  return data.U8(value) ? Malformed::kNone : Malformed::kLength;
}

}  // namespace

Command<RepositoryInfo> GetSdrRepositoryInfo() {
  return {MakeRequest(NetFn::kStorage, cmd::kGetSdrRepositoryInfo),
          [](wire::ByteReader& data, RepositoryInfo* info) {
            wire::ByteReader whole = data;
            if (!whole.Take(kRepositoryInfoBytes, &info->data)) return Malformed::kLength;
            data.U8(&info->sdrVersion);
            data.U16(&info->recordCount);
            data.U16(&info->freeSpace);
            data.U32(&info->additionTimestamp);
            data.U32(&info->eraseTimestamp);
            data.U8(&info->operationSupport);
            return Malformed::kNone;
          }};
}

Command<uint16_t> ReserveRepository(Repository repository) {
  const Request request = repository == Repository::kSpared
                              ? MakeRequest(NetFn::kOem, cmd::kSparedReserve)
                              : MakeRequest(NetFn::kStorage, cmd::kReserveSdrRepository);
  return {request, ReadU16};
}

Command<RecordPart> GetSdr(Repository repository, uint16_t reservation, uint16_t recordId, uint8_t offset,
                           uint8_t count) {
  wire::ByteWriter data;
  data.U16(reservation).U16(recordId).U8(offset).U8(count);
  const Request request = repository == Repository::kSpared
                              ? MakeRequest(NetFn::kOem, cmd::kSparedGetSdr, data.Take())
                              : MakeRequest(NetFn::kStorage, cmd::kGetSdr, data.Take());
  return {request, [count](wire::ByteReader& answer, RecordPart* part) {
            return answer.U16(&part->nextRecordId) && answer.Take(count, &part->bytes) ? Malformed::kNone
                                                                                       : Malformed::kLength;
          }};
}

Command<Done> SparedUpdateLock(LockMode mode) {
  Request request = MakeRequest(NetFn::kOem, cmd::kSparedUpdateLock, {static_cast<uint8_t>(mode)});
  request.kind.lockable = mode == LockMode::kTake;
  return {request, NoData};
}

Command<uint16_t> SparedPartialAdd(uint16_t reservation, uint16_t recordId, uint8_t offset, bool last,
                                   const uint8_t* bytes, uint8_t count) {
  wire::ByteWriter data;
  data.U16(reservation).U16(recordId).U8(offset).U8(last ? 0x01 : 0x00).Append(bytes, count);
  Request request = MakeRequest(NetFn::kOem, cmd::kSparedPartialAdd, data.Take());
  request.kind.forgivable = last;
  return {request, ReadU16};
}

Command<uint8_t> SparedClear(uint16_t reservation, EraseStep step) {
  wire::ByteWriter data;
  data.U16(reservation).Append(reinterpret_cast<const uint8_t*>("CLR"), 3).U8(static_cast<uint8_t>(step));
  Request request = MakeRequest(NetFn::kOem, cmd::kSparedClear, data.Take());
  request.kind.forgivable = step == EraseStep::kStart;
  return {request, ReadU8};
}

Command<wire::Bytes> OemE0Info() {
  return {MakeRequest(NetFn::kOem, cmd::kOemE0Info), [](wire::ByteReader& data, wire::Bytes* info) {
            return data.Take(kOemE0Bytes, info) ? Malformed::kNone : Malformed::kLength;
          }};
}

}  // namespace ipmi
