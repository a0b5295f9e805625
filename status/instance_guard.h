#pragma once
#include <memory>
#include <string>

#include "platform/instance_lock.h"

namespace status {

// The program's single-instance lock: taken once per run, held until the process ends
// unless the caller only tests it.
class InstanceGuard {
 public:
  // True when this instance may go on. holdForRun false releases the lock at once (a query
  // that must not keep updates out). A lock that cannot even be created counts as held
  // elsewhere: going on unguarded could run two updates at once; *detail then says why.
  bool Acquire(const std::string& name, const std::string& lockDir, bool holdForRun, std::string* detail);

 private:
  std::unique_ptr<platform::InstanceLock> lock_;
};

}  // namespace status
