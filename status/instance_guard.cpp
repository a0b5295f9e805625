#include "status/instance_guard.h"

namespace status {

bool InstanceGuard::Acquire(const std::string& name, const std::string& lockDir, bool holdForRun,
                            std::string* detail) {
  platform::LockResult result = platform::LockResult::kFailed;
  std::string why;
  std::unique_ptr<platform::InstanceLock> lock =
      platform::TryAcquireInstanceLock(name, &result, lockDir, &why);
  if (result != platform::LockResult::kAcquired || !lock) {
    if (detail && result == platform::LockResult::kFailed) {
      *detail = "the lock " + name + " cannot be created" + (why.empty() ? "" : ": " + why);
    }
    return false;
  }
  if (holdForRun) lock_ = std::move(lock);
  return true;
}

}  // namespace status
