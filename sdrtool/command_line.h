#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "transport/wmi_retry_policy.h"

namespace veltrop {

// Run modes; 4 and 5 are no run modes.
enum SdrMode : int {
  ModeNone = 0,
  ModeVersion = 1,
  ModeUpdate = 2,
  ModeForce = 3,
  ModeBackup = 6,
  ModeRatio = 7,
};

enum InputKind : int {
  InputNone = 0,
  InputSdr = 1,
  InputCfg = 2,
  InputBin = 3,
};

// What the command line asked for.
struct RunSettings {
  SdrMode mode = ModeNone;
  InputKind input = InputNone;
  bool ForceRequested = false;
  bool DirectMode = false;
  bool ConsoleEcho = false;
  bool TraceEnabled = false;
  bool ResultTraceEnabled = false;
  std::string SdrFileName = "BMCSDR.SDR";
  std::optional<std::string> CfgFileName;
  std::string BinFileName = "BMCSDR.BIN";
  std::string BackupFileName = "BMCSDR.BAK";
  // The Microsoft driver's retries (-ff_retry, -other_retry, -wait, -lock_retry, -lock_wait)
  // and the values handed to it (-C_wait, -I_wait, -B_wait); the transport's defaults.
  transport::CodeKeyedRetrySettings retry;

  // An update whose outcome goes to the manager (result files, progress file).
  bool ManagedUpdate() const { return (mode == ModeUpdate || mode == ModeForce) && !DirectMode; }
};

// Parses the arguments after the program name and applies the combination rules. Returns
// false on a parameter error; the settings then hold the mode as far as it was parsed.
bool ParseCommandLine(int argc, const char* const* argv, RunSettings* settings);

}  // namespace veltrop
