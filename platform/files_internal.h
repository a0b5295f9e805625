#pragma once
// The platform library's own seams for replacing files; not for use outside platform/ and its tests.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform::internal {

// Fills out with bytes from the system's cryptographic generator; 0 or an errno number.
int RandomBytes(unsigned char* out, size_t count);

// Creates path, failing with EEXIST when the name exists in any form (also a dangling link),
// writes content and flushes it to disk. 0 or an errno number; on failure nothing it created
// remains.
int WriteNewFile(const std::string& path, std::string_view content);

// How the atomic writer creates its temporaries; empty (the default) means WriteNewFile. Only
// tests set another: a full disk, or a name taken between its choice and its creation, cannot
// be staged on every system the suite runs on (no mounts in CI containers or under Wine).
using NewFileWriter = std::function<int(const std::string& path, std::string_view content)>;
void SetNewFileWriter(NewFileWriter writer);

// WriteFileAtomically with the temporary names taken from nextTemporary (0 or an errno number).
bool WriteFileAtomicallyVia(const std::string& path, std::string_view content, int* error,
                            const std::function<int(std::string* temporary)>& nextTemporary);

}  // namespace platform::internal
