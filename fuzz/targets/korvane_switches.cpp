// Korvane's switch parser. Input: the arguments after the program name, separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support/workspace.h"
#include "fwtool/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = fuzzing::SplitAtNul(data, size, 64);
  std::vector<const char*> argv = {"Korvane"};
  for (const std::string& a : args) {
    argv.push_back(a.c_str());
    korvane::ParseWaitSeconds(a);
  }
  korvane::FwSettings settings;
  if (korvane::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &settings)) {
    if (settings.WaitSeconds < 0) fuzzing::Die("accepted a negative wait");
    if (settings.BlockSize != 28 && settings.BlockSize != 16)
      fuzzing::Die("a block size of neither 28 nor 16");
  }
  return 0;
}
