#pragma once
#include <cstdint>
#include <string>

namespace korvane {

// Run modes in the order of their numbers.
enum class RunMode : int {
  LocalUpdate = 0,  // an operator at the console: y/n prompt, no result files
  GetVersion = 1,
  UpdateNormal = 2,
  UpdateForce = 3,
  GetRatio = 4,
};

// What the command line asked for.
struct FwSettings {
  RunMode mode = RunMode::LocalUpdate;
  bool BootBlockUpdate = false;
  bool BothUpdate = false;
  // Pause between the transport's retries after an abnormal completion code.
  int64_t WaitSeconds = 0;
  // Data bytes per Firmware Write / Firmware Read.
  uint32_t BlockSize = 28;

  bool Updates() const { return mode == RunMode::UpdateNormal || mode == RunMode::UpdateForce; }
};

// The -wait value: the C library's decimal conversion of the text, or -1 when a tail of it
// (read from its last character back) does not begin with "0" yet converts to 0, which is
// how text after the number shows ("12a"). -2 for a number beyond 32 bits. Negative values
// are switch errors.
int64_t ParseWaitSeconds(const std::string& text);

// Parses argv[1..] under the rules that look only at the switches before each one. False on
// any rejection or a negative wait; the settings then hold what was parsed up to the error.
bool ParseCommandLine(int argc, const char* const* argv, FwSettings* settings);

}  // namespace korvane
