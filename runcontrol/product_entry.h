#pragma once
// The product flavour's process entry, shared by both programs: the platform's real IPMI
// driver, and the Microsoft one where the machine has it.
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "runcontrol/run_environment.h"
#include "transport/vendor_driver.h"
#include "transport/wmi_driver.h"

namespace runcontrol {

using ProgramRun = int (*)(int argc, const char* const* argv, RunEnvironment& env);

inline int RunWithProductDrivers(int argc, char** argv, ProgramRun run) {
  platform::RequestRealtimePriority();
  platform::InstallInterruptHandlers();
  auto driver = transport::MakeVendorDriver();
  RunEnvironment env;
  env.clock = &platform::SystemClock();
  env.console = &platform::StdConsole();
  env.vendorDriver = driver.get();
  env.openWmiPath = transport::OpenMicrosoftIpmiDriver;
  const int status = run(argc, argv, env);
  platform::NoteCleanupDone();
  return status;
}

}  // namespace runcontrol
