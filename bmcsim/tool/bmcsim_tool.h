#pragma once
#include <string>
#include <vector>

#include "platform/clock.h"

namespace bmcsim {

// The `bmcsim` command line (arguments without the program name). Output for the user goes
// to *out, a one-line error to *err; the result is the exit status (0 success, 1 bad input
// or a failed step, 3 when `send` met a transport failure). A refused command leaves the
// BMC's state as it was.
int RunTool(const std::vector<std::string>& args, platform::Clock& clock, std::string* out, std::string* err);

// The text of `bmcsim --help`.
const char* ToolHelpText();

}  // namespace bmcsim
