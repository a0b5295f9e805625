#pragma once
#include <cstdint>
#include <memory>

namespace veltrop {

// Largest SDR record: 5-byte header and a body of at most 64 bytes.
constexpr int kSdrHeaderBytes = 5;
constexpr int kMaxSdrBodyBytes = 64;
constexpr int kMaxSdrRecordBytes = kSdrHeaderBytes + kMaxSdrBodyBytes;

// One SDR record node of a record list (parsed, loaded from an image, or read back).
struct SensData {
  uint8_t Type = 0x24;
  char Tag[33] = {};
  int32_t Length = 0;
  // Record bytes as written to the BMC: record ID (2), SDR version, record type, body length,
  // body. Sized for the longest record so a read-back node always holds a whole record.
  uint8_t Record[kMaxSdrRecordBytes] = {};
  std::unique_ptr<SensData> Next;

  SensData() = default;
  SensData(const SensData&) = delete;
  SensData& operator=(const SensData&) = delete;
  // Frees the tail iteratively: long lists must not recurse once per node.
  ~SensData() {
    while (Next) Next = std::move(Next->Next);
  }
};

}  // namespace veltrop
