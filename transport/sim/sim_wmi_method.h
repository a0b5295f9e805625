#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "transport/wmi_driver.h"
#include "transport/wmi_method.h"

namespace transport {

// The Microsoft_IPMI instance of the simulated machine whose state lives in stateDir: every
// call is one exchange with the simulated BMC (logged in its exchange log), its completion
// code handed back as CompletionCode. How the BMC's fault rules show through the driver is
// told in `bmcsim --help` ("Microsoft IPMI driver"). Latency and injected delays are slept on
// the given clock.
std::unique_ptr<WmiIpmiMethod> MakeSimulatedWmiMethod(const std::string& stateDir, platform::Clock& clock);

// Opens the simulated machine's Microsoft IPMI driver under the program's policy, as
// RunEnvironment::openWmiPath does: not present (the vendor path is used) unless the machine
// has the driver (bmcsim --wmi).
std::function<WmiPathOpening(const WmiPathSetup&)> MakeSimulatedWmiOpener(const std::string& stateDir,
                                                                          platform::Clock& clock);

}  // namespace transport
