#pragma once
#include <cstddef>
#include <string>

#include "runcontrol/result_reporter.h"

namespace veltrop {

// The SDR tool's result codes with the messages they log.
extern const runcontrol::ResultMessage kResultMessages[];
extern const size_t kResultMessageCount;

// The log message of a result code; empty for codes without one (exact, case-sensitive).
const char* ResultCodeMessage(const std::string& code);

}  // namespace veltrop
