#pragma once

namespace testsupport {

// Drops this thread's power to override file permissions (root's), keeping it to be taken back;
// false when there was none to drop.
bool DropPermissionOverride();
void RestorePermissionOverride();

// Whether this process may take the product flavour's machine-wide lock: Linux keeps it where
// only root may create files, Windows lets anyone.
bool MayTakeProductLock();

}  // namespace testsupport
