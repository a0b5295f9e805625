#pragma once
#include <cstddef>

#include "runcontrol/result_reporter.h"

namespace korvane {

// The firmware tool's result codes with the messages they log.
extern const runcontrol::ResultMessage kResultMessages[];
extern const size_t kResultMessageCount;

}  // namespace korvane
