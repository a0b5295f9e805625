#pragma once
#include <cstring>
#include <deque>
#include <vector>

#include "transport/ipmi_driver.h"

namespace veltrop {

// Answers requests from a prepared queue and remembers what was sent; for tests of the
// command layer where a BMC model adds nothing.
class ScriptedDriver : public transport::IpmiDriver {
 public:
  struct Answer {
    transport::ExchangeStatus status = transport::kExchangeOk;
    std::vector<uint8_t> bytes;  // the whole response in wire form
  };
  std::deque<Answer> answers;
  std::vector<std::vector<uint8_t>> requests;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    requests.emplace_back(request.bytes, request.bytes + request.length);
    if (answers.empty()) return transport::kDriverUnreachable;
    Answer a = answers.front();
    answers.pop_front();
    if (a.status == transport::kDriverUnreachable) return a.status;
    size_t n = a.bytes.size() < sizeof response->bytes ? a.bytes.size() : sizeof response->bytes;
    std::memcpy(response->bytes, a.bytes.data(), n);
    response->length = static_cast<uint8_t>(n);
    return a.status;
  }
};

}  // namespace veltrop
