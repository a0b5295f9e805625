// Korvane, sim flavour: the simulated BMC of BMCSIM_DIR in place of the drivers.
#include "fwtool/main_flow.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "transport/sim/sim_driver.h"
#include "transport/sim/sim_wmi_method.h"

int main(int argc, char** argv) {
  platform::RequestRealtimePriority();
  platform::InstallInterruptHandlers();
  const std::string bmcDir = transport::SimulatedBmcDirectory();
  auto driver = transport::MakeSimulatedDriver(bmcDir, platform::SystemClock());
  runcontrol::RunEnvironment env;
  env.clock = &platform::SystemClock();
  env.console = &platform::StdConsole();
  env.vendorDriver = driver.get();
  // The machine's Microsoft IPMI driver, when bmcsim gave it one.
  env.openWmiPath = transport::MakeSimulatedWmiOpener(bmcDir, platform::SystemClock());
  // One simulated machine, one lock: runs against other simulated BMCs never meet.
  env.lockDir = bmcDir;
  const int status = korvane::RunKorvane(argc, argv, env);
  platform::NoteCleanupDone();
  return status;
}
