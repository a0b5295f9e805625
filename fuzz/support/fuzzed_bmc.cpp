#include "fuzz/support/fuzzed_bmc.h"

#include <algorithm>
#include <cstring>

#include "fuzz/support/workspace.h"

namespace fuzzing {
namespace {

constexpr uint8_t kSticky = 11;
constexpr uint8_t kNetFnFirmwareRequest = 0x08 << 2;
constexpr uint8_t kCmdFirmwareErase = 0x01;

}  // namespace

FuzzedBmcDriver::Rule FuzzedBmcDriver::ReadRule(uint8_t kind) {
  Rule rule;
  rule.kind = kind;
  switch (kind) {
    case 2:
    case 6:
    case 7: {
      const uint8_t n = input_.Byte();
      for (uint8_t i = 0; i < n && !input_.Empty(); ++i) rule.bytes.push_back(input_.Byte());
      break;
    }
    case 4:
    case 5: {
      rule.a = input_.Byte();
      for (uint8_t i = 0; i < rule.a && !input_.Empty(); ++i) rule.bytes.push_back(input_.Byte());
      break;
    }
    case 3:
    case 12:
      rule.a = input_.Byte();
      break;
    case 8:
    case 9:
    case 10:
      rule.a = input_.Byte();
      rule.b = input_.Byte();
      break;
    default:
      break;
  }
  return rule;
}

FuzzedBmcDriver::Rule FuzzedBmcDriver::NextRule(bool allowSticky, uint16_t key) {
  if (honestLeft_ > 0) {
    --honestLeft_;
    return Rule();
  }
  if (input_.Empty()) return Rule();
  const uint8_t op = input_.Byte();
  if (op < 0x80) {
    honestLeft_ = op;
    return Rule();
  }
  const uint8_t kind = op & 0x0F;
  if (kind == kSticky) {
    if (!allowSticky) return Rule();
    Rule rule = NextRule(false, key);
    sticky_[key] = rule;
    return rule;
  }
  if (kind > 12) return Rule();
  return ReadRule(kind);
}

wire::Bytes FuzzedBmcDriver::Honest(const uint8_t* request, uint8_t requestLength) {
  return model_.Handle(state_, request, requestLength, clock_);
}

transport::ExchangeStatus FuzzedBmcDriver::Exchange(const transport::IpmiRequest& request,
                                                    transport::IpmiResponse* response) {
  if (++exchanges_ > kMaxExchanges) Die("a run sent more than two million requests");
  if (request.length < 2) Die("a request without network function and command");
  const uint16_t key = static_cast<uint16_t>(request.bytes[0] << 8 | request.bytes[1]);
  if (request.bytes[0] == kNetFnFirmwareRequest && request.bytes[1] == kCmdFirmwareErase &&
      request.length >= 6) {
    uint32_t address = 0;
    for (int i = 0; i < 4; ++i) address |= uint32_t{request.bytes[2 + i]} << (8 * i);
    ++eraseRequests_[address];
  }
  auto sticky = sticky_.find(key);
  const Rule rule = sticky != sticky_.end() ? sticky->second : NextRule(true, key);

  wire::Bytes answer;
  transport::ExchangeStatus status = transport::kExchangeOk;
  switch (rule.kind) {
    case 0:
      return transport::kDriverUnreachable;
    case 1:
      Honest(request.bytes, request.length);
      response->length = 0;
      return transport::kTransferFailed;
    case 2:
      Honest(request.bytes, request.length);
      answer = rule.bytes;
      status = transport::kTransferFailed;
      break;
    case 6:
      answer = rule.bytes;
      break;
    case 7:
      Honest(request.bytes, request.length);
      answer = rule.bytes;
      break;
    case 12:
      clock_.SleepMs(rule.a * 1000u);
      answer = Honest(request.bytes, request.length);
      break;
    default:
      answer = Honest(request.bytes, request.length);
      break;
  }
  switch (rule.kind) {
    case 3:
      if (answer.size() >= 3) answer[2] = rule.a;
      break;
    case 4:
      if (rule.a <= answer.size()) {
        answer.resize(rule.a);
      } else {
        answer.insert(answer.end(), rule.bytes.begin(), rule.bytes.end());
        answer.resize(rule.a);
      }
      break;
    case 5:
      answer.insert(answer.end(), rule.bytes.begin(), rule.bytes.end());
      break;
    case 8:
      if (rule.a < answer.size()) answer[rule.a] ^= rule.b;
      break;
    case 9:
      if (rule.a < answer.size()) answer[rule.a] = rule.b;
      break;
    case 10:
      if (answer.size() >= 2) {
        answer[0] = rule.a;
        answer[1] = rule.b;
      }
      break;
    default:
      break;
  }
  // The honest BMC sits behind the vendor driver, which cuts answers at 127 bytes; a broken
  // driver may fill whatever the caller offers.
  const bool fromInput =
      rule.kind == 2 || rule.kind == 4 || rule.kind == 5 || rule.kind == 6 || rule.kind == 7;
  const size_t limit = fromInput ? sizeof response->bytes : transport::kDriverResponseCapacity;
  const size_t n = std::min({answer.size(), limit, size_t{255}});
  if (n) std::memcpy(response->bytes, answer.data(), n);
  response->length = static_cast<uint8_t>(n);
  return status;
}

}  // namespace fuzzing
