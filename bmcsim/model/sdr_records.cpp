#include "bmcsim/model/sdr_records.h"

#include <set>

#include "wire/hex_text.h"

namespace bmcsim {

bool SplitRecords(std::string_view data, std::vector<SdrRecord>* records, std::string* error) {
  std::vector<SdrRecord> out;
  size_t offset = 0;
  while (offset < data.size()) {
    size_t left = data.size() - offset;
    size_t total = left >= kSdrHeaderSize ? kSdrHeaderSize + static_cast<uint8_t>(data[offset + 4]) : 0;
    if (left < kSdrHeaderSize || left < total) {
      *error = "record " + std::to_string(out.size() + 1) + " at offset " + std::to_string(offset) +
               " is cut off: " + std::to_string(left) + " of " +
               (total ? std::to_string(total) : std::string("at least 5")) + " bytes present";
      return false;
    }
    const uint8_t* start = reinterpret_cast<const uint8_t*>(data.data()) + offset;
    out.emplace_back(start, start + total);
    offset += total;
  }
  *records = std::move(out);
  return true;
}

std::string JoinRecords(const std::vector<SdrRecord>& records) {
  std::string data;
  data.reserve(RecordBytes(records));
  for (const SdrRecord& r : records) data.append(reinterpret_cast<const char*>(r.data()), r.size());
  return data;
}

size_t RecordBytes(const std::vector<SdrRecord>& records) {
  size_t total = 0;
  for (const SdrRecord& r : records) total += r.size();
  return total;
}

bool CheckRecordIds(const std::vector<SdrRecord>& records, std::string* error) {
  std::set<uint16_t> seen;
  for (size_t i = 0; i < records.size(); ++i) {
    uint16_t id = RecordId(records[i]);
    uint8_t idBytes[2] = {records[i][1], records[i][0]};
    std::string where = "record " + std::to_string(i + 1) + " has ID " + wire::HexCompact(idBytes, 2) + "h";
    if (id == kLastRecordId || (id == kFirstRecordId && i != 0)) {
      *error = where + ", which cannot be reached by ID";
      return false;
    }
    if (!seen.insert(id).second) {
      *error = where + ", used by an earlier record";
      return false;
    }
  }
  return true;
}

long FindRecord(const std::vector<SdrRecord>& records, uint16_t id) {
  if (records.empty()) return -1;
  if (id == kFirstRecordId) return 0;
  if (id == kLastRecordId) return static_cast<long>(records.size()) - 1;
  for (size_t i = 0; i < records.size(); ++i) {
    if (RecordId(records[i]) == id) return static_cast<long>(i);
  }
  return -1;
}

uint16_t NextRecordId(const std::vector<SdrRecord>& records, size_t index) {
  return index + 1 < records.size() ? RecordId(records[index + 1]) : kLastRecordId;
}

}  // namespace bmcsim
