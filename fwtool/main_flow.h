#pragma once
#include "runcontrol/run_environment.h"

namespace korvane {

// The firmware tool's lock: one per machine, across all users' sessions.
constexpr const char* kLockName = "Global\\Korvane.exe";

// One whole Korvane invocation; argv[0] is the program as started (its directory holds the
// logs, mchk_fil, bmcfw.bin and the progress file). Returns the exit status (0). An empty lock
// name in env means the tool's own.
int RunKorvane(int argc, const char* const* argv, runcontrol::RunEnvironment& env);

}  // namespace korvane
