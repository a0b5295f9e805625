#include "fwtool/result_file_wait.h"

#include "platform/files.h"

namespace korvane {
namespace {

constexpr int kConsumedWaitMaxCount = 60;  // the loop pauses while count <= 60: 61 pauses
constexpr uint32_t kConsumedWaitPauseMs = 500;

}  // namespace

ResponseFileWait WaitResponseFileConsumed(platform::Clock& clock, const std::string& path) {
  int count = 0;
  bool present = platform::FileReadable(path);
  while (present && count <= kConsumedWaitMaxCount) {
    clock.SleepMs(kConsumedWaitPauseMs);
    ++count;
    present = platform::FileReadable(path);
  }
  return present ? ResponseFileWait::kOverwriting : ResponseFileWait::kGone;
}

}  // namespace korvane
