#pragma once
#include "platform/interrupt.h"
#include "transport/ipmi_driver.h"

namespace testsupport {

// Passes requests on and asks the process to stop (as Ctrl-C would) when the armed exchange
// is about to be sent; the request is still carried out, as it would be when the signal
// arrives while it travels.
class StopAtExchange : public transport::IpmiDriver {
 public:
  explicit StopAtExchange(transport::IpmiDriver* inner) : inner_(inner) {}
  ~StopAtExchange() override { platform::ClearInterrupt(); }

  void Arm(int index) {
    index_ = index;
    count = 0;
    platform::ClearInterrupt();
  }
  int count = 0;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    if (count++ == index_) platform::RequestInterrupt();
    return inner_->Exchange(request, response);
  }
  bool HoldMaintenanceMode(bool on) override {
    maintenanceOn = on;
    return inner_->HoldMaintenanceMode(on);
  }
  // The driver's maintenance mode as the run left it.
  bool maintenanceOn = false;

 private:
  transport::IpmiDriver* inner_;
  int index_ = -1;
};

}  // namespace testsupport
