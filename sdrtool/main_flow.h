#pragma once
#include "sdrtool/veltrop_run.h"

namespace veltrop {

// One whole veltrop invocation; argv[0] is the program name. Returns the exit status (0).
int RunVeltrop(int argc, const char* const* argv, VeltropEnv& env);

}  // namespace veltrop
