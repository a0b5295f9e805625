// veltrop, sim flavour: the simulated BMC of BMCSIM_DIR in place of the driver.
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/process.h"
#include "sdrtool/main_flow.h"
#include "transport/sim/sim_driver.h"

int main(int argc, char** argv) {
  platform::RequestRealtimePriority();
  auto driver = transport::MakeSimulatedDriver(transport::SimulatedBmcDirectory(), platform::SystemClock());
  veltrop::VeltropEnv env;
  env.clock = &platform::SystemClock();
  env.console = &platform::StdConsole();
  env.vendorDriver = driver.get();
  return veltrop::RunVeltrop(argc, argv, env);
}
