#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace bmcsim {

// `bmcsim serve DIR --socket PATH` (args with the verb, without the program name): serves the
// BMC in DIR to QEMU until SIGTERM or SIGINT. Lines go to out as they happen: first
// "listening on PATH", which tells a script the socket is ready. Returns the exit status
// (0 after a stop request, 1 when refused).
using ServeOutput = std::function<void(const std::string& line)>;
int RunServe(const std::vector<std::string>& args, platform::Clock& clock, const ServeOutput& out,
             const ServeOutput& err);

}  // namespace bmcsim
