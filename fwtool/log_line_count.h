#pragma once
#include <cstdint>
#include <string>

namespace korvane {

// Lines of a log as the firmware tool counts them at start, where its rotation by lines goes
// on from: reads of at most 255 characters, each ending early after a line end. A missing
// file has 0.
int32_t CountLogLines(const std::string& path);

}  // namespace korvane
