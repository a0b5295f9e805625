#pragma once
#include <cstddef>
#include <cstdint>

#include "transport/ipmi_message.h"

namespace transport {

// One way of carrying a request to the BMC: the vendor driver, the simulated BMC, or the
// Microsoft IPMI driver.
class IpmiDriver {
 public:
  virtual ~IpmiDriver() = default;
  // Sends the request and fills *response in the wire form. response->length is left
  // unchanged when the driver cannot be reached (kDriverUnreachable).
  virtual ExchangeStatus Exchange(const IpmiRequest& request, IpmiResponse* response) = 0;
  // Keeps the driver's own traffic away from the BMC (on) or lets it choose again (off), for
  // the time the BMC's flash is rewritten. False when the driver could not be told; drivers
  // without such a mode have nothing to do.
  virtual bool HoldMaintenanceMode(bool /*on*/) { return true; }
  // After a failed call that tore the driver down, opens it once more so the run can still
  // undo what it changed on the BMC. True when the driver can be used; drivers that are never
  // torn down have nothing to do.
  virtual bool ReopenAfterTeardown() { return true; }
};

}  // namespace transport
