#pragma once
#include <cstdint>
#include <optional>
#include <string>

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

// Retry counts and waits of the transport, from the retry and wait switches.
struct RetrySettings {
  int32_t ffRetry = 10;      // -ff_retry: retries after completion code 0xFF
  int32_t otherRetry = 3;    // -other_retry: retries after other non-zero codes
  int32_t waitMs = 10000;    // -wait: milliseconds between those retries
  int32_t lockRetry = 1;     // -lock_retry: retries after 0xCE
  int32_t lockWaitS = 60;    // -lock_wait: seconds between lock retries
  int32_t cWait = 15000000;  // -C_wait: time-out values handed to the Microsoft driver
  int32_t iWait = 15000000;  // -I_wait
  int32_t bWait = 10000000;  // -B_wait
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
  RetrySettings retry;

  // An update whose outcome goes to the manager (result files, progress file).
  bool ManagedUpdate() const { return (mode == ModeUpdate || mode == ModeForce) && !DirectMode; }
};

// Parses the arguments after the program name and applies the combination rules. Returns
// false on a parameter error; the settings then hold the mode as far as it was parsed.
bool ParseCommandLine(int argc, const char* const* argv, RunSettings* settings);

}  // namespace veltrop
