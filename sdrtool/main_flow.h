#pragma once
#include "runcontrol/run_environment.h"

namespace veltrop {

// The lock name of the SDR tool.
constexpr const char* kLockName = "veltrop.exe";

// One whole veltrop invocation; argv[0] is the program name. Returns the exit status (0).
// An empty lock name in env means the tool's own.
int RunVeltrop(int argc, const char* const* argv, runcontrol::RunEnvironment& env);

}  // namespace veltrop
