#include "transport/sim/sim_driver.h"

#include <cstdlib>

namespace transport {

std::unique_ptr<IpmiDriver> MakeSimulatedDriver(const std::string& /*stateDir*/, platform::Clock& /*clock*/) {
  return nullptr;  // placeholder until the simulator lands
}

std::string SimulatedBmcDirectory() {
  const char* dir = std::getenv("BMCSIM_DIR");
  return dir && *dir ? dir : "bmcsim";
}

}  // namespace transport
