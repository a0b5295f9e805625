// Placeholder until the configuration script interpreter lands.
#include "sdrtool/config_script.h"
#include "sdrtool/veltrop_run.h"

namespace veltrop {
int RunConfigScript(VeltropRun& run, const std::string&) {
  return run.errors.Report(67);
}
}  // namespace veltrop
