#pragma once
// Seam of the POSIX instance lock; not for use outside platform/ and its tests.
#include <string>
#include <vector>

namespace platform::internal {

// The first candidate that is a directory; empty, with the reason in *detail, when there is
// none. Permissions play no part: processes of different users must agree on the one lock file,
// and one that may not use it hears why from the open.
std::string ChooseLockDirectory(const std::vector<std::string>& candidates, std::string* detail);

}  // namespace platform::internal
