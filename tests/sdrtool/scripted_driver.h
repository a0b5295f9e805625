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

  transport::ExchangeStatus Exchange(const uint8_t* request, uint8_t requestLength, uint8_t* response,
                                     size_t responseCapacity, uint8_t* responseLength) override {
    requests.emplace_back(request, request + requestLength);
    if (answers.empty()) return transport::kDriverUnreachable;
    Answer a = answers.front();
    answers.pop_front();
    if (a.status == transport::kDriverUnreachable) return a.status;
    size_t n = a.bytes.size() < responseCapacity ? a.bytes.size() : responseCapacity;
    std::memcpy(response, a.bytes.data(), n);
    *responseLength = static_cast<uint8_t>(n);
    return a.status;
  }
};

}  // namespace veltrop
