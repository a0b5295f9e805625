#pragma once
#include <cstdint>
#include <string>

namespace veltrop {

// Replaces oldPath by path when path is larger than limitBytes: the version log is set aside
// once it has grown large.
void RotateLogBySize(const std::string& path, int64_t limitBytes, const std::string& oldPath);

}  // namespace veltrop
