#pragma once
#include <string>

namespace veltrop {

class VeltropRun;

// Loads, parses and executes a configuration script, then programs or compares the SDR files
// it names. 0 on success; failures are already reported.
int RunConfigScript(VeltropRun& run, const std::string& fileName);

}  // namespace veltrop
