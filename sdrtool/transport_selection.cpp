#include "sdrtool/transport_selection.h"

#include "sdrtool/veltrop_run.h"

namespace veltrop {

bool SelectTransport(VeltropRun& run) {
  if (run.env.wmiDriver == nullptr) {
    run.LogLine("Use QYX Driver");
    return true;
  }
  run.LogLine("Use MS Driver");
  run.transport.UseWmiPath = true;
  return true;
}

}  // namespace veltrop
