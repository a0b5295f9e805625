#pragma once
#include <cstdint>
#include <new>

#include "transport/ipmi_driver.h"
#include "wire/byte_io.h"

namespace testsupport {

// Passes requests on, counting them, and throws std::bad_alloc in place of the armed one, as a
// failed allocation while the request is prepared would: that request never reaches the BMC.
// Armed by the exchange's number (from 0; with times, that many exchanges in a row, so the
// cleanup after the first exception meets another), or by its request (network function byte,
// command, nth occurrence from 1). Notes the driver's maintenance mode as the run leaves it.
class ThrowAtExchange : public transport::IpmiDriver {
 public:
  explicit ThrowAtExchange(transport::IpmiDriver* inner) : inner_(inner) {}

  void Arm(int index, int times = 1) {
    Reset();
    index_ = index;
    times_ = times;
  }
  void ArmAt(uint8_t netFnByte, uint8_t command, int occurrence) {
    Reset();
    netFnByte_ = netFnByte;
    command_ = command;
    occurrencesLeft_ = occurrence;
  }

  int count = 0;
  bool maintenanceOn = false;
  // The request in whose place the first exception came: network function byte, command, first
  // byte.
  wire::Bytes thrownAt;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    const int number = count++;
    const bool byNumber = index_ >= 0 && number >= index_ && number < index_ + times_;
    const bool byRequest = occurrencesLeft_ > 0 && request.length >= 2 && request.bytes[0] == netFnByte_ &&
                           request.bytes[1] == command_ && --occurrencesLeft_ == 0;
    if (byNumber || byRequest) {
      if (thrownAt.empty())
        thrownAt.assign(request.bytes, request.bytes + (request.length < 3 ? request.length : 3));
      throw std::bad_alloc();
    }
    return inner_->Exchange(request, response);
  }
  bool HoldMaintenanceMode(bool on) override {
    maintenanceOn = on;
    return inner_->HoldMaintenanceMode(on);
  }

 private:
  void Reset() {
    count = 0;
    maintenanceOn = false;
    thrownAt.clear();
    index_ = -1;
    times_ = 1;
    occurrencesLeft_ = 0;
  }

  transport::IpmiDriver* inner_;
  int index_ = -1;
  int times_ = 1;
  uint8_t netFnByte_ = 0;
  uint8_t command_ = 0;
  int occurrencesLeft_ = 0;
};

}  // namespace testsupport
