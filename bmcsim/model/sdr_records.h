#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wire/byte_io.h"

namespace bmcsim {

// One complete SDR: the 5-byte header (record ID low, high, SDR version, record type, body
// length) followed by the body.
using SdrRecord = wire::Bytes;

constexpr size_t kSdrHeaderSize = 5;
constexpr uint16_t kFirstRecordId = 0x0000;  // asks for the first record; never assigned
constexpr uint16_t kLastRecordId = 0xFFFF;   // asks for the last record, and ends the chain

inline uint16_t RecordId(const SdrRecord& record) {
  return static_cast<uint16_t>(record[0] | record[1] << 8);
}
inline void SetRecordId(SdrRecord* record, uint16_t id) {
  (*record)[0] = static_cast<uint8_t>(id);
  (*record)[1] = static_cast<uint8_t>(id >> 8);
}

// Splits records stored back to back (the layout `ipmitool sdr dump` writes). Fails with a
// message when the data ends inside a record.
bool SplitRecords(std::string_view data, std::vector<SdrRecord>* records, std::string* error);
std::string JoinRecords(const std::vector<SdrRecord>& records);
size_t RecordBytes(const std::vector<SdrRecord>& records);

// A repository whose records can be walked by ID: no duplicates, no FFFFh, and 0000h only
// on the first record (where asking for 0000h finds it anyway).
bool CheckRecordIds(const std::vector<SdrRecord>& records, std::string* error);

// Index of the record a Get SDR for this ID addresses, or -1.
long FindRecord(const std::vector<SdrRecord>& records, uint16_t id);
// The ID that follows record `index` in the chain: the next record's ID, FFFFh after the last.
uint16_t NextRecordId(const std::vector<SdrRecord>& records, size_t index);

}  // namespace bmcsim
