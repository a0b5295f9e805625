#include "sdrtool/result_hold.h"

namespace veltrop {
namespace {

constexpr int64_t kMinimumResultGapSeconds = 30;

}  // namespace

void HoldBackUpdateResult(platform::Clock& clock, int64_t startSeconds) {
  int64_t wait = kMinimumResultGapSeconds - (clock.WallSeconds() - startSeconds);
  // The wall clock went back: never wait longer than the rule itself.
  if (wait > kMinimumResultGapSeconds) wait = kMinimumResultGapSeconds;
  if (wait > 0) clock.SleepMs(static_cast<uint32_t>(wait * 1000));
}

}  // namespace veltrop
