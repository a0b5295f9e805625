#include "tests/support/permission_override.h"

namespace testsupport {

// Windows decides by access lists, which the read-only attribute of a directory does not touch.
bool DropPermissionOverride() {
  return false;
}

void RestorePermissionOverride() {}

bool MayTakeProductLock() {
  return true;
}

}  // namespace testsupport
