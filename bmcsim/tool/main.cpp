// bmcsim: creates, inspects and scripts a simulated BMC (see bmcsim --help).
#include <cstdio>
#include <string>
#include <vector>

#include "bmcsim/serve/serve_command.h"
#include "bmcsim/tool/bmcsim_tool.h"
#include "platform/clock.h"

namespace {

void PrintLine(std::FILE* stream, const std::string& line) {
  std::fprintf(stream, "%s\n", line.c_str());
  std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "serve") {
    // Runs until stopped, so its lines are printed as they come.
    return bmcsim::RunServe(
        args, platform::SystemClock(), [](const std::string& line) { PrintLine(stdout, line); },
        [](const std::string& line) { PrintLine(stderr, line); });
  }
  std::string out;
  std::string err;
  int status = bmcsim::RunTool(args, platform::SystemClock(), &out, &err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}
