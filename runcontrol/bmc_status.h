#pragma once
#include <string>

#include "ipmi/device_commands.h"
#include "ipmi/sender.h"

namespace runcontrol {

enum class BmcStatus {
  kTarget,                  // identified and listed in mchk_fil
  kDriverUnreachable,       // the driver cannot be opened
  kNoIdentity,              // Get Device ID failed or was not answered as it should be
  kHardwareListUnreadable,  // mchk_fil cannot be read
  kNotListed,               // the hardware ID is not in mchk_fil
};

// What the BMC status check found, with the Get Device ID exchange for the log.
struct BmcStatusCheck {
  BmcStatus status = BmcStatus::kNoIdentity;
  ipmi::DeviceId identity;
  transport::IpmiRequest request;
  ipmi::Answer answer;
};

// Asks the BMC for its identity through the program's sender and looks its hardware ID up in
// the list of supported machines.
BmcStatusCheck CheckBmcStatus(ipmi::Sender& sender, const std::string& hardwareListPath);

}  // namespace runcontrol
