#pragma once
// Seam of the POSIX instance lock; not for use outside platform/ and its tests.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/instance_lock.h"

namespace platform::internal {

// The first candidate that is a directory; empty, with the reason in *detail, when there is
// none. Permissions play no part: processes of different users must agree on the one lock file,
// and one that may not use it hears why from the open.
std::string ChooseLockDirectory(const std::vector<std::string>& candidates, std::string* detail);

// TryAcquireInstanceLock without a lock directory, with the parent of the programs' directory
// (/run) and its required owner (root) given. The directory bmc-online-update is created 0755
// when missing, the parent never; it is refused, with the reason naming it in *detail, when it
// is a link, not a directory, not owner's or writable by group or others. Only its owner can
// open the lock file.
std::unique_ptr<InstanceLock> TryAcquireSystemInstanceLock(const std::string& name, const std::string& parent,
                                                           uid_t owner, LockResult* result,
                                                           std::string* detail);

}  // namespace platform::internal
