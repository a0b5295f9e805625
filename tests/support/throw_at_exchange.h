#pragma once
#include <cstdint>
#include <new>

#include "transport/ipmi_driver.h"

namespace testsupport {

// Passes requests on and throws std::bad_alloc, as an allocation failing anywhere in the run
// would, when the armed request (network function byte, command, nth occurrence from 1) is
// about to be sent. Notes the driver's maintenance mode as the run leaves it.
class ThrowAtExchange : public transport::IpmiDriver {
 public:
  explicit ThrowAtExchange(transport::IpmiDriver* inner) : inner_(inner) {}

  void Arm(uint8_t netFnByte, uint8_t command, int occurrence) {
    netFnByte_ = netFnByte;
    command_ = command;
    left_ = occurrence;
    thrown = false;
    maintenanceOn = false;
  }

  bool thrown = false;
  bool maintenanceOn = false;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    if (left_ > 0 && request.length >= 2 && request.bytes[0] == netFnByte_ && request.bytes[1] == command_ &&
        --left_ == 0) {
      thrown = true;
      throw std::bad_alloc();
    }
    return inner_->Exchange(request, response);
  }
  bool HoldMaintenanceMode(bool on) override {
    maintenanceOn = on;
    return inner_->HoldMaintenanceMode(on);
  }

 private:
  transport::IpmiDriver* inner_;
  uint8_t netFnByte_ = 0;
  uint8_t command_ = 0;
  int left_ = 0;
};

}  // namespace testsupport
