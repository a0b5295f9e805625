#include "ipmi/firmware_commands.h"

namespace ipmi {
namespace {

Request FirmwareRequest(uint8_t command, wire::Bytes data = {}) {
  return MakeRequest(NetFn::kFirmware, command, std::move(data));
}

wire::Bytes Address(uint32_t address) {
  wire::ByteWriter out;
  out.U32(address);
  return out.Take();
}

}  // namespace

Command<ChipId> FwIdChip(uint8_t index) {
  return {FirmwareRequest(cmd::kFwIdChip, {index}), [](wire::ByteReader& data, ChipId* chip) {
            if (data.AtEnd()) return Malformed::kNone;
            data.U8(&chip->index);
            chip->echoed = true;
            chip->hasSizeCode = data.U8(&chip->sizeCode);
            chip->hasSectorCode = chip->hasSizeCode && data.U8(&chip->sectorCode);
            return Malformed::kNone;
          }};
}

Command<Done> FirmwareErase(uint32_t address) {
  return {FirmwareRequest(cmd::kFirmwareErase, Address(address)), NoData};
}

Command<Done> FirmwareWrite(uint32_t address, const uint8_t* bytes, uint8_t count) {
  wire::ByteWriter data;
  data.U32(address).Append(bytes, count);
  return {FirmwareRequest(cmd::kFirmwareWrite, data.Take()), [](wire::ByteReader& rest, Done*) {
            rest.Skip(rest.Remaining());
            return Malformed::kNone;
          }};
}

Command<wire::Bytes> FirmwareRead(uint32_t address, uint8_t count) {
  wire::ByteWriter data;
  data.U32(address).U8(count);
  return {FirmwareRequest(cmd::kFirmwareRead, data.Take()),
          [count](wire::ByteReader& rest, wire::Bytes* read) {
            return rest.Take(count, read) ? Malformed::kNone : Malformed::kLength;
          }};
}

Command<Done> SetImageSelector(uint8_t value) {
  return {FirmwareRequest(cmd::kSetImageSelector, {value}), NoData};
}

Command<uint8_t> GetImageSelector() {
  return {FirmwareRequest(cmd::kGetImageSelector), [](wire::ByteReader& data, uint8_t* bank) {
            uint8_t unused = 0;
            if (!data.U8(&unused) || !data.U8(bank)) return Malformed::kLength;
            // A dual-bank flash boots bank 1 or bank 2: nothing else can be the running bank.
            return *bank == 1 || *bank == 2 ? Malformed::kNone : Malformed::kValue;
          }};
}

Command<Done> SetDownloaderSelector(uint8_t bank) {
  return {FirmwareRequest(cmd::kSetDownloaderSelector, {bank}), NoData};
}

Command<DownloaderSelector> GetDownloaderSelector() {
  return {FirmwareRequest(cmd::kGetDownloaderSelector), [](wire::ByteReader& data, DownloaderSelector* out) {
            return data.U8(&out->byte1) && data.U8(&out->byte2) && data.U32(&out->address)
                       ? Malformed::kNone
                       : Malformed::kLength;
          }};
}

}  // namespace ipmi
