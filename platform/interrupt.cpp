#include "platform/interrupt.h"

#include <atomic>

namespace platform {
namespace {

// Lock-free, so a signal handler may set it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

}  // namespace

bool InterruptRequested() {
  return interrupted.load();
}

void RequestInterrupt() {
  interrupted.store(true);
}

void ClearInterrupt() {
  interrupted.store(false);
}

}  // namespace platform
