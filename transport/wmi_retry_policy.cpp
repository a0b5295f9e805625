#include "transport/wmi_retry_policy.h"

#include <algorithm>
#include <cstdio>

#include "protocol/ipmi_codes.h"

namespace transport {
namespace {

using ipmi::kCcLockHeld;
using ipmi::kCcReservationCancelled;
using ipmi::kCcSuccess;
// What the Microsoft driver answers when the BMC did not answer in time.
constexpr uint8_t kCcDriverBusy = ipmi::kCcUnspecified;

int32_t NotBelowZero(int32_t value) {
  return std::max(value, int32_t{0});
}

std::string Format(const char* format, unsigned value) {
  char line[96];
  std::snprintf(line, sizeof line, format, value);
  return line;
}

}  // namespace

CodeKeyedRetry::CodeKeyedRetry(const CodeKeyedRetrySettings& settings, RequestKind kind)
    : kind_(kind),
      ffRetries_(NotBelowZero(settings.ffRetries)),
      waitMs_(static_cast<uint64_t>(NotBelowZero(settings.waitMs))),
      lockWaitMs_(static_cast<uint64_t>(NotBelowZero(settings.lockWaitSeconds)) * 1000u),
      ffLeft_(ffRetries_),
      otherLeft_(NotBelowZero(settings.otherRetries)),
      lockLeft_(NotBelowZero(settings.lockRetries)) {}

RetryStep CodeKeyedRetry::Next(uint8_t code) {
  const bool ffResent = ffLeft_ < ffRetries_;
  if (code == kCcLockHeld) {
    // Only a lock re-sent after a 0xFF may have been taken by its own first sending.
    if (!ffResent || !kind_.lockable || lockLeft_ == 0) return Stop(code);
    --lockLeft_;
    return Resend("-----IPMIcommand Lock-Retry Completion=%x----", code, lockWaitMs_);
  }
  if (ffLeft_ > 0 && code == kCcDriverBusy) {
    --ffLeft_;
    return Resend("-----IPMIcommand FF-Retry Completion=%x----", code, waitMs_);
  }
  if (otherLeft_ == 0 || code == kCcSuccess || code == kCcDriverBusy || Forgiven(code)) return Stop(code);
  --otherLeft_;
  return Resend("-----IPMIcommand Retry Completion=%x----", code, waitMs_);
}

RetryStep CodeKeyedRetry::Resend(const char* format, uint8_t code, uint64_t waitMs) {
  RetryStep step;
  step.resend = true;
  step.line = Format(format, code);
  step.waitMs = waitMs;
  return step;
}

RetryStep CodeKeyedRetry::Stop(uint8_t code) const {
  RetryStep step;
  step.finalCode = code;
  if (Forgiven(code)) {
    step.finalCode = kCcSuccess;
    step.line = Format("-----MSDriver Completion Code=0x%x->0x00 ----", code);
  } else if (code != kCcSuccess && ffLeft_ == 0 && ffRetries_ != 0) {
    step.line = Format("-----MSDriver Completion Code=%x----", code);
    step.retriesUsedUpUnderLoad = true;
  }
  return step;
}

// A lost reservation on a request whose earlier sending got through before a 0xFF.
bool CodeKeyedRetry::Forgiven(uint8_t code) const {
  return code == kCcReservationCancelled && ffLeft_ < ffRetries_ && kind_.forgivable;
}

WholeRequestRetry::WholeRequestRetry(const WholeRequestRetrySettings& settings)
    : waitMs_(settings.waitSeconds > 0 ? static_cast<uint64_t>(settings.waitSeconds) * 1000u : 0) {}

RetryStep WholeRequestRetry::Next(uint8_t code) {
  RetryStep step;
  step.finalCode = code;
  if (code == kCcSuccess) return step;
  char line[64];
  std::snprintf(line, sizeof line, "Abnormal CompletionCode:%2.2Xh Retry Count:%d", code, attempt_);
  step.line = line;
  step.logExchange = true;
  step.waitMs = waitMs_;
  step.resend = ++attempt_ < kWholeRequestAttempts;
  return step;
}

}  // namespace transport
