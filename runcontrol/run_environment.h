#pragma once
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/console.h"
#include "transport/ipmi_driver.h"

namespace runcontrol {

// What a program's entry hands to a run: the operating system's side, or a test's.
struct RunEnvironment {
  platform::Clock* clock = nullptr;
  platform::Console* console = nullptr;
  transport::IpmiDriver* vendorDriver = nullptr;
  // The Microsoft IPMI driver, when the platform offers one; none means the vendor path.
  transport::IpmiDriver* wmiDriver = nullptr;
  // The single-instance lock; lockDir empty: the system's lock directory.
  std::string lockName;
  std::string lockDir;
  // Ends the process when result files cannot be written at all; empty: std::exit.
  std::function<void(int)> exitProcess;
};

}  // namespace runcontrol
