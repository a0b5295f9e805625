#pragma once
// The sim flavour's process entry, shared by both programs: the simulated BMC of BMCSIM_DIR in
// place of the drivers.
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "runcontrol/run_environment.h"
#include "transport/sim/sim_driver.h"
#include "transport/sim/sim_wmi_method.h"

namespace runcontrol {

using ProgramRun = int (*)(int argc, const char* const* argv, RunEnvironment& env);

inline int RunWithSimulatedBmc(int argc, char** argv, ProgramRun run) {
  platform::RequestRealtimePriority();
  platform::InstallInterruptHandlers();
  const std::string bmcDir = transport::SimulatedBmcDirectory();
  auto driver = transport::MakeSimulatedDriver(bmcDir, platform::SystemClock());
  RunEnvironment env;
  env.clock = &platform::SystemClock();
  env.console = &platform::StdConsole();
  env.vendorDriver = driver.get();
  // The machine's Microsoft IPMI driver, when bmcsim gave it one.
  env.openWmiPath = transport::MakeSimulatedWmiOpener(bmcDir, platform::SystemClock());
  // One simulated machine, one lock: runs against other simulated BMCs never meet.
  env.lockDir = bmcDir;
  const int status = run(argc, argv, env);
  platform::NoteCleanupDone();
  return status;
}

}  // namespace runcontrol
