#pragma once
#include <string>

namespace runcontrol {

enum class HardwareListResult { kListed, kNotListed, kUnreadable };

// Looks for the hardware ID (four lower-case hex digits) in the list of supported machines
// (mchk_fil): anywhere in a line, the line taken in lower case. Lines are taken whole, so an
// ID is never split at a read boundary; only the first 1 MiB is read, so a list that never
// ends (a device, a pipe) cannot hold the run.
HardwareListResult FindHardwareId(const std::string& path, const std::string& hardwareId);

}  // namespace runcontrol
