#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "transport/ipmi_driver.h"

namespace testsupport {

// One fault a sweep puts at one exchange.
struct InjectedFault {
  enum Kind { kCompletion, kUnreachable, kAnswerLost, kTruncated, kFlippedByte, kDelay };
  Kind kind;
  uint8_t code;  // for kCompletion
  const char* name;
};

// Completion codes C0, C5, CA, CC, D5, FF (the request is not carried out); the driver not
// reachable (not carried out); the answer lost (carried out); the answer cut to two bytes; its
// first data byte flipped; a 20-second delay.
inline std::vector<InjectedFault> SweepFaults() {
  return {{InjectedFault::kCompletion, 0xC0, "cc C0"},  {InjectedFault::kCompletion, 0xC5, "cc C5"},
          {InjectedFault::kCompletion, 0xCA, "cc CA"},  {InjectedFault::kCompletion, 0xCC, "cc CC"},
          {InjectedFault::kCompletion, 0xD5, "cc D5"},  {InjectedFault::kCompletion, 0xFF, "cc FF"},
          {InjectedFault::kUnreachable, 0, "status 9"}, {InjectedFault::kAnswerLost, 0, "status 10"},
          {InjectedFault::kTruncated, 0, "truncated"},  {InjectedFault::kFlippedByte, 0, "flipped byte"},
          {InjectedFault::kDelay, 0, "delay"}};
}

// The same fault as the effect of a bmcsim fault rule ("cc=0xC0", "status=10", ...), for
// exchanges FaultAtExchange does not see (the Microsoft driver's path); a flipped byte is
// "flip=N" there, for any data byte N.
inline std::string FaultRuleEffect(const InjectedFault& fault) {
  char text[32];
  switch (fault.kind) {
    case InjectedFault::kCompletion:
      std::snprintf(text, sizeof text, "cc=0x%02X", fault.code);
      return text;
    case InjectedFault::kUnreachable:
      return "status=9";
    case InjectedFault::kAnswerLost:
      return "status=10";
    case InjectedFault::kTruncated:
      return "length=2";
    case InjectedFault::kFlippedByte:
      return "flip=1";
    case InjectedFault::kDelay:
      return "delay=20000";
  }
  return "";
}

// The exchanges a sweep faults, by their lines in the simulated BMC's exchange log of the clean
// run: all of them, except inside a long stretch of one command (the sector erases of a 4-MiB
// bank, their completion polls, the blank checks past an image, the records of a repository),
// the same code at another address: there the first four and the last two of that command, and
// every eighth between.
inline std::vector<int> SweptExchanges(const std::vector<std::string>& log) {
  std::map<std::string, std::vector<int>> byCommand;
  for (size_t k = 0; k < log.size(); ++k) byCommand[log[k].substr(0, 5)].push_back(static_cast<int>(k));
  std::vector<int> swept;
  for (const auto& entry : byCommand) {
    const std::vector<int>& indices = entry.second;
    const size_t n = indices.size();
    for (size_t i = 0; i < n; ++i) {
      if (i < 4 || i + 2 >= n || i % 8 == 0) swept.push_back(indices[i]);
    }
  }
  std::sort(swept.begin(), swept.end());
  return swept;
}

// Passes requests on, counting them, and spoils the one armed.
class FaultAtExchange : public transport::IpmiDriver {
 public:
  FaultAtExchange(transport::IpmiDriver* inner, platform::Clock* clock) : inner_(inner), clock_(clock) {}

  void Arm(int index, const InjectedFault& fault) {
    index_ = index;
    fault_ = fault;
    count = 0;
  }
  void Disarm() {
    index_ = -1;
    count = 0;
  }
  int count = 0;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    if (count++ != index_) return inner_->Exchange(request, response);
    switch (fault_.kind) {
      case InjectedFault::kCompletion:
        response->bytes[0] = static_cast<uint8_t>(request.bytes[0] + 4);
        response->bytes[1] = request.bytes[1];
        response->bytes[2] = fault_.code;
        response->length = 3;
        return transport::kExchangeOk;
      case InjectedFault::kUnreachable:
        return transport::kDriverUnreachable;
      case InjectedFault::kDelay:
        clock_->SleepMs(20000);
        break;
      default:
        break;
    }
    const transport::ExchangeStatus status = inner_->Exchange(request, response);
    if (status != transport::kExchangeOk) return status;
    switch (fault_.kind) {
      case InjectedFault::kAnswerLost:
        response->length = 0;
        return transport::kTransferFailed;
      case InjectedFault::kTruncated:
        response->length = std::min<uint8_t>(response->length, 2);
        break;
      case InjectedFault::kFlippedByte:
        if (response->length > 3) response->bytes[3] ^= 0xFF;
        break;
      default:
        break;
    }
    return status;
  }
  bool HoldMaintenanceMode(bool on) override { return inner_->HoldMaintenanceMode(on); }

 private:
  transport::IpmiDriver* inner_;
  platform::Clock* clock_;
  int index_ = -1;
  InjectedFault fault_{InjectedFault::kDelay, 0, ""};
};

}  // namespace testsupport
