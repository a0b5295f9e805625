#include "runcontrol/bmc_status.h"

#include "runcontrol/hardware_list.h"

namespace runcontrol {

BmcStatusCheck CheckBmcStatus(ipmi::Sender& sender, const std::string& hardwareListPath) {
  BmcStatusCheck check;
  const ipmi::Command<ipmi::DeviceId> command = ipmi::GetDeviceId();
  command.request.Wire(&check.request);
  check.answer = sender.Exchange(command.request);
  const ipmi::Outcome<ipmi::DeviceId> identity = command.Decode(check.answer);
  if (!identity) {
    const bool unreachable =
        identity.failure == ipmi::Failure::kTransport && identity.status == transport::kDriverUnreachable;
    check.status = unreachable ? BmcStatus::kDriverUnreachable : BmcStatus::kNoIdentity;
    return check;
  }
  check.identity = identity.value;
  switch (FindHardwareId(hardwareListPath, check.identity.HardwareId())) {
    case HardwareListResult::kUnreadable:
      check.status = BmcStatus::kHardwareListUnreadable;
      break;
    case HardwareListResult::kNotListed:
      check.status = BmcStatus::kNotListed;
      break;
    case HardwareListResult::kListed:
      check.status = BmcStatus::kTarget;
      break;
  }
  return check;
}

}  // namespace runcontrol
