#pragma once
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/console.h"
#include "transport/ipmi_driver.h"
#include "transport/wmi_driver.h"

namespace runcontrol {

// What a program's entry hands to a run: the operating system's side, or a test's.
struct RunEnvironment {
  platform::Clock* clock = nullptr;
  platform::Console* console = nullptr;
  transport::IpmiDriver* vendorDriver = nullptr;
  // Opens the Microsoft IPMI driver under the program's retry policy (the platform's WMI path,
  // or the simulated BMC's provider); empty: there is none and the vendor path is used.
  std::function<transport::WmiPathOpening(const transport::WmiPathSetup&)> openWmiPath;
  // A driver standing in for an opened Microsoft IPMI driver (tests); used when openWmiPath is empty.
  transport::IpmiDriver* wmiDriver = nullptr;
  // The single-instance lock; lockDir empty: the system's lock directory.
  std::string lockName;
  std::string lockDir;
};

}  // namespace runcontrol
