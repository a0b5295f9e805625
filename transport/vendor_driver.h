#pragma once
#include <memory>

#include "transport/ipmi_driver.h"

namespace transport {

// The platform's vendor driver path: \\.\IPMIDEV on Windows, the OpenIPMI device on Linux.
// The device is opened and closed for every request.
std::unique_ptr<IpmiDriver> MakeVendorDriver();

}  // namespace transport
