#pragma once
#include <memory>
#include <string>

#include "platform/clock.h"
#include "transport/ipmi_driver.h"

namespace transport {

// The simulated BMC whose state lives in stateDir, in place of the vendor driver, whose
// 127-byte answer limit it keeps. Latency and injected delays are slept on the given clock.
std::unique_ptr<IpmiDriver> MakeSimulatedDriver(const std::string& stateDir, platform::Clock& clock);

// The sim flavour's BMC state directory: the environment variable BMCSIM_DIR, else ./bmcsim.
std::string SimulatedBmcDirectory();

}  // namespace transport
