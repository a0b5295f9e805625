// veltrop, sim flavour: the simulated BMC of BMCSIM_DIR in place of the drivers.
#include "sdrtool/main_flow.h"
#include "runcontrol/sim_entry.h"

int main(int argc, char** argv) {
  return runcontrol::RunWithSimulatedBmc(argc, argv, veltrop::RunVeltrop);
}
