#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"

namespace platform {

enum class LockResult {
  kAcquired,       // this process is the first holder
  kHeldElsewhere,  // another process holds the lock
  kFailed,         // the lock could not be created at all
};

// A named lock shared by all processes of the machine; held until the object is destroyed
// or the process ends (also when it crashes).
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

// Windows: a named mutex (names like "Global\Name" select the global namespace), or with a
// lockDir a locked file named after the lock in that directory.
// Linux: an advisory lock on a file named after the lock in lockDir or, when lockDir is empty,
// in /run/bmc-online-update: created when missing, refused unless it is a real directory of
// root's that no one else may write to, never replaced by another place. On kFailed, *detail
// (when given) says why, for the caller's log.
std::unique_ptr<InstanceLock> TryAcquireInstanceLock(const std::string& name, LockResult* result,
                                                     const std::string& lockDir = {},
                                                     std::string* detail = nullptr);

// An exclusive lock on a file, for short critical sections shared between processes. Waits
// for other holders, polling on the clock, at most timeoutMs; null on time-out or when the
// file cannot be opened.
class FileLock {
 public:
  static constexpr uint32_t kDefaultTimeoutMs = 30000;
  virtual ~FileLock() = default;
  static std::unique_ptr<FileLock> Acquire(const std::string& path, uint32_t timeoutMs = kDefaultTimeoutMs,
                                           Clock& clock = SystemClock());
};

}  // namespace platform
