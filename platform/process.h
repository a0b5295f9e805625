#pragma once
#include <string>

namespace platform {

// Asks the system to run this process at its highest priority; the outcome is ignored by
// every caller, so nothing is reported.
void RequestRealtimePriority();

// Full path of the running executable, or empty when the system does not tell.
std::string RunningProgramPath();

unsigned long CurrentProcessId();

}  // namespace platform
