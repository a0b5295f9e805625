#include "sdrtool/repository/record_chain.h"

#include <vector>

namespace veltrop {

ChainWalkResult WalkRecordChain(const RecordChainWalk& walk) {
  std::vector<bool> seen(0x10000, false);
  size_t totalBytes = 0;
  ChainWalkResult result;
  for (uint16_t recordId = kFirstRecordId;;) {
    result.recordId = recordId;
    if (walk.goOn && !walk.goOn()) {
      result.end = ChainEnd::kFailed;
      return result;
    }
    if (seen[recordId]) {
      result.end = ChainEnd::kLoops;
      return result;
    }
    seen[recordId] = true;
    ChainRecord record;
    switch (walk.read(recordId, &record)) {
      case RecordRead::kRecord:
        break;
      case RecordRead::kNoRecord:
        result.end = ChainEnd::kComplete;
        return result;
      case RecordRead::kFailed:
        result.end = ChainEnd::kFailed;
        return result;
    }
    totalBytes += record.bytes.size();
    if (totalBytes > walk.maxBytes) {
      result.end = ChainEnd::kTooLarge;
      return result;
    }
    if (!walk.take(record)) {
      result.end = ChainEnd::kFailed;
      return result;
    }
    if (record.nextRecordId == kLastRecordId) {
      result.end = ChainEnd::kComplete;
      return result;
    }
    recordId = record.nextRecordId;
  }
}

}  // namespace veltrop
