#pragma once
#include <memory>
#include <string>

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

// Windows: a named mutex (names like "Global\Name" select the global namespace).
// Linux: an advisory lock on a file named after the lock in lockDir, or in the system lock
// directory when lockDir is empty.
std::unique_ptr<InstanceLock> TryAcquireInstanceLock(const std::string& name, LockResult* result,
                                                     const std::string& lockDir = {});

// An exclusive lock on a file, waiting for other holders; for short critical sections
// shared between processes.
class FileLock {
 public:
  virtual ~FileLock() = default;
  static std::unique_ptr<FileLock> Acquire(const std::string& path);
};

}  // namespace platform
