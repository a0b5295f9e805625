#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "wire/byte_io.h"

namespace veltrop {

// The first record of every repository, and the next-record ID after the last one.
constexpr uint16_t kFirstRecordId = 0x0000;
constexpr uint16_t kLastRecordId = 0xFFFF;

// One record as a read returns it: its bytes (header and body) and the next record's ID.
struct ChainRecord {
  wire::Bytes bytes;
  uint16_t nextRecordId = kLastRecordId;
};

enum class RecordRead : uint8_t {
  kRecord,
  kNoRecord,  // the repository holds none: the walk ends complete
  kFailed,    // the read's own failure, known to the caller
};

// How a repository is walked: the per-record read, what is done with each record, and the
// most record bytes a repository may hold.
struct RecordChainWalk {
  // Asked before each record is read; false ends the walk as failed. Optional.
  std::function<bool()> goOn;
  std::function<RecordRead(uint16_t recordId, ChainRecord* record)> read;
  // false ends the walk as failed.
  std::function<bool(const ChainRecord& record)> take;
  size_t maxBytes = 0;
};

enum class ChainEnd : uint8_t {
  kComplete,  // the last record was taken, or the repository holds none
  kFailed,    // goOn, read or take said so
  kLoops,     // a next-record ID names a record already read
  kTooLarge,  // the records add up to more than maxBytes
};

struct ChainWalkResult {
  ChainEnd end = ChainEnd::kComplete;
  uint16_t recordId = kFirstRecordId;  // the record whose read or check ended the walk
};

// Follows the record chain from 0000h to the record whose next ID is FFFFh. A chain that comes
// back to a record, or one longer than any repository can be, would otherwise never end.
ChainWalkResult WalkRecordChain(const RecordChainWalk& walk);

}  // namespace veltrop
