// Korvane, product flavour: the platform's real IPMI driver.
#include "fwtool/main_flow.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "transport/vendor_driver.h"
#include "transport/wmi_driver.h"

int main(int argc, char** argv) {
  platform::RequestRealtimePriority();
  platform::InstallInterruptHandlers();
  auto driver = transport::MakeVendorDriver();
  runcontrol::RunEnvironment env;
  env.clock = &platform::SystemClock();
  env.console = &platform::StdConsole();
  env.vendorDriver = driver.get();
  env.openWmiPath = transport::OpenMicrosoftIpmiDriver;
  const int status = korvane::RunKorvane(argc, argv, env);
  platform::NoteCleanupDone();
  return status;
}
