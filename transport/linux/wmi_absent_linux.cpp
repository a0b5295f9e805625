#include "transport/wmi_driver.h"

namespace transport {

// Linux has no WMI: the vendor path (OpenIPMI) carries every request.
WmiPathOpening OpenMicrosoftIpmiDriver(const WmiPathSetup&) {
  WmiPathOpening opening;
  opening.failedStep = WmiOpenStep::kNoWmiOnThisPlatform;
  return opening;
}

}  // namespace transport
