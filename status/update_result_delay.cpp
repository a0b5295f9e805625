#include "status/status_files.h"

namespace status {
namespace {

constexpr int64_t kMinimumResultGapSeconds = 30;

}  // namespace

void HoldBackUpdateResult(platform::Clock& clock, int64_t startSeconds,
                          const std::function<void(const std::string&)>& traceLog) {
  int64_t wait = kMinimumResultGapSeconds - (clock.WallSeconds() - startSeconds);
  // The wall clock went back: never wait longer than the rule itself.
  if (wait > kMinimumResultGapSeconds) wait = kMinimumResultGapSeconds;
  if (traceLog) traceLog("update end");
  if (wait > 0) clock.SleepMs(static_cast<uint32_t>(wait * 1000));
  if (traceLog) traceLog("result file reply");
}

}  // namespace status
