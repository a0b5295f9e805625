#pragma once
#include <new>

#include "transport/ipmi_driver.h"
#include "wire/byte_io.h"

namespace testsupport {

// Passes requests on, counting them, and throws std::bad_alloc in place of the armed one, as a
// failed allocation while the request is prepared would: that request never reaches the BMC.
class ThrowAtExchange : public transport::IpmiDriver {
 public:
  explicit ThrowAtExchange(transport::IpmiDriver* inner) : inner_(inner) {}

  void Arm(int index) {
    index_ = index;
    count = 0;
    thrownAt.clear();
  }
  int count = 0;
  // The request in whose place the exception came: network function byte, command, first byte.
  wire::Bytes thrownAt;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    if (count++ == index_) {
      thrownAt.assign(request.bytes, request.bytes + (request.length < 3 ? request.length : 3));
      throw std::bad_alloc();
    }
    return inner_->Exchange(request, response);
  }
  bool HoldMaintenanceMode(bool on) override { return inner_->HoldMaintenanceMode(on); }

 private:
  transport::IpmiDriver* inner_;
  int index_ = -1;
};

}  // namespace testsupport
