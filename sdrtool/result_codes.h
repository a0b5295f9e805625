#pragma once
#include <string>

namespace veltrop {

// The log message of a result code; empty for codes without one (exact, case-sensitive).
const char* ResultCodeMessage(const std::string& code);

}  // namespace veltrop
