// veltrop's switch parser. Input: the arguments after the program name, separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support/workspace.h"
#include "sdrtool/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = fuzzing::SplitAtNul(data, size, 64);
  std::vector<const char*> argv = {"veltrop"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  veltrop::RunSettings settings;
  if (veltrop::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &settings)) {
    const int mode = settings.mode;
    if (mode != veltrop::ModeVersion && mode != veltrop::ModeUpdate && mode != veltrop::ModeForce &&
        mode != veltrop::ModeBackup && mode != veltrop::ModeRatio) {
      fuzzing::Die("accepted switches without a run mode");
    }
    const bool takesInput =
        mode == veltrop::ModeVersion || mode == veltrop::ModeUpdate || mode == veltrop::ModeForce;
    if (mode != veltrop::ModeForce && takesInput && settings.input == veltrop::InputNone)
      fuzzing::Die("accepted a version query or update without an input");
    if (!takesInput && (settings.input != veltrop::InputNone || settings.ForceRequested))
      fuzzing::Die("accepted an input or -force with a backup or ratio query");
  }
  return 0;
}
