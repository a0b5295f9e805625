// bmcsim: creates, inspects and scripts a simulated BMC (see bmcsim --help).
#include <cstdio>
#include <string>
#include <vector>

#include "bmcsim/tool/bmcsim_tool.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string out;
  std::string err;
  int status = bmcsim::RunTool(args, platform::SystemClock(), &out, &err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}
