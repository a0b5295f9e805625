#pragma once

namespace testsupport {

// Drops this thread's power to override file permissions (root's), keeping it to be taken back;
// false when there was none to drop.
bool DropPermissionOverride();
void RestorePermissionOverride();

}  // namespace testsupport
