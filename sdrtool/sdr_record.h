#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace veltrop {

// Largest SDR record: 5-byte header and a body of at most 64 bytes.
constexpr int kSdrHeaderBytes = 5;
constexpr int kMaxSdrBodyBytes = 64;
constexpr int kMaxSdrRecordBytes = kSdrHeaderBytes + kMaxSdrBodyBytes;
constexpr size_t kMaxSdrTagLength = 32;

// One SDR record of a record list (parsed, loaded from an image, or read back).
struct SdrRecord {
  uint8_t type = 0x24;
  std::string tag;     // the last _SDR_TAG, cut to kMaxSdrTagLength characters
  int32_t length = 0;  // _REC_LEN as the file gave it
  // Record bytes as written to the BMC: record ID (2), SDR version, record type, body length,
  // body. Sized for the longest record so a read-back record always fits whole.
  uint8_t bytes[kMaxSdrRecordBytes] = {};

  int BodyLength() const { return bytes[4]; }
};

using SdrRecordList = std::vector<SdrRecord>;

// The body length the header of a record's bytes gives; 0 while the header is incomplete.
inline int SdrBodyLength(const std::vector<uint8_t>& record) {
  return record.size() >= static_cast<size_t>(kSdrHeaderBytes) ? record[kSdrHeaderBytes - 1] : 0;
}

// Names set by a configuration script; they select tagged SDR records and IFSET branches.
using SetNameList = std::vector<std::string>;

}  // namespace veltrop
