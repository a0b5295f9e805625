#include "transport/wmi_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <variant>

namespace transport {
namespace {

void SleepFor(platform::Clock& clock, uint64_t ms) {
  while (ms > 0) {
    const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(ms, std::numeric_limits<uint32_t>::max()));
    clock.SleepMs(step);
    ms -= step;
  }
}

class WmiDriver : public IpmiDriver {
 public:
  WmiDriver(std::unique_ptr<WmiIpmiMethod> method, std::wstring instancePath, const WmiPathSetup& setup)
      : method_(std::move(method)),
        instancePath_(std::move(instancePath)),
        policy_(setup.policy),
        log_(setup.log ? setup.log : [](const std::string&) {}),
        events_(setup.events),
        clock_(setup.clock ? *setup.clock : platform::SystemClock()) {}

  ExchangeStatus Exchange(const IpmiRequest& request, IpmiResponse* response) override {
    // The released objects of a torn-down service are never reached again.
    if (tornDown_) return kDriverUnreachable;
    Answer out{response->bytes, sizeof response->bytes, &response->length};
    if (const auto* codeKeyed = std::get_if<CodeKeyedRetrySettings>(&policy_))
      return ExchangeCodeKeyed(*codeKeyed, request, out);
    const ExchangeStatus status =
        ExchangeWholeRequest(std::get<WholeRequestRetrySettings>(policy_), request, out);
    response->netFnAsRequested = status == kExchangeOk;
    return status;
  }

  bool ReopenAfterTeardown() override {
    if (!tornDown_) return true;
    tornDown_ = !method_->Reopen();
    return !tornDown_;
  }

 private:
  struct Answer {
    uint8_t* bytes;
    size_t capacity;
    uint8_t* length;
  };

  // Puts the request into a fresh in-parameter object; kExchangeOk when it is ready to call.
  ExchangeStatus Prepare(const uint8_t* request, uint8_t requestLength, const DriverWaits& waits) {
    WmiInParameters in;
    if (!BuildInParameters(request, requestLength, waits, &in)) return kDriverUnreachable;
    const PrepareResult prepared = method_->Prepare(in);
    if (prepared.outcome == PrepareOutcome::kPrepared) return kExchangeOk;
    method_->EndRequest();
    if (prepared.outcome == PrepareOutcome::kMethodUnavailable && events_)
      events_->MethodUnavailable(prepared.hresult);
    return kDriverUnreachable;
  }

  // One call; kExchangeOk with the answer's completion code, else the request's status.
  ExchangeStatus Call(WmiAnswer* answer) {
    *answer = WmiAnswer{};
    if (!method_->Call(instancePath_, answer)) {
      tornDown_ = true;
      return kTransferFailed;
    }
    return answer->completionCode ? kExchangeOk : kTransferFailed;
  }

  ExchangeStatus ExchangeCodeKeyed(const CodeKeyedRetrySettings& settings, const IpmiRequest& request,
                                   const Answer& out) {
    const uint8_t* bytes = request.bytes;
    const uint8_t length = request.length;
    CodeKeyedRetry policy(settings, request.kind);
    if (settings.logDriverWaits && !driverWaitsLogged_) {
      driverWaitsLogged_ = true;
      char line[96];
      std::snprintf(line, sizeof line, "CW=%d IW=%d BW =%d", static_cast<int>(settings.driverWaits.cWait),
                    static_cast<int>(settings.driverWaits.iWait),
                    static_cast<int>(settings.driverWaits.bWait));
      log_(line);
    }
    ExchangeStatus status = Prepare(bytes, length, settings.driverWaits);
    if (status != kExchangeOk) return status;
    WmiAnswer answer;
    RetryStep step;
    do {
      status = Call(&answer);
      if (status != kExchangeOk) break;
      step = policy.Next(*answer.completionCode);
      if (!step.line.empty()) log_(step.line);
      SleepFor(clock_, step.waitMs);
    } while (step.resend);
    if (status == kExchangeOk && step.retriesUsedUpUnderLoad && events_)
      events_->RetriesUsedUpUnderLoad(step.finalCode);
    if (status == kExchangeOk && !BuildWmiResponse(bytes, length, ResponseNetFn::kAnswering, step.finalCode,
                                                   answer.responseData, out.bytes, out.capacity, out.length))
      status = kTransferFailed;
    method_->EndRequest();
    return status;
  }

  ExchangeStatus ExchangeWholeRequest(const WholeRequestRetrySettings& settings, const IpmiRequest& request,
                                      const Answer& out) {
    const uint8_t* bytes = request.bytes;
    const uint8_t length = request.length;
    WholeRequestRetry policy(settings);
    uint8_t built[kIpmiBufferSize];
    for (;;) {
      ExchangeStatus status = Prepare(bytes, length, settings.driverWaits);
      if (status != kExchangeOk) return status;
      WmiAnswer answer;
      status = Call(&answer);
      uint8_t builtLength = 0;
      if (status == kExchangeOk &&
          !BuildWmiResponse(bytes, length, ResponseNetFn::kAsRequested, *answer.completionCode,
                            answer.responseData, built, std::min(out.capacity, sizeof built), &builtLength))
        status = kTransferFailed;
      method_->EndRequest();
      if (status != kExchangeOk) return status;
      const RetryStep step = policy.Next(*answer.completionCode);
      if (!step.line.empty()) {
        log_(step.line);
        if (step.logExchange)
          LogExchange(log_, settings.exchangeLinePrefix, bytes, length, built, builtLength);
      }
      SleepFor(clock_, step.waitMs);
      if (!step.resend) {
        std::memcpy(out.bytes, built, builtLength);
        *out.length = builtLength;
        return kExchangeOk;
      }
    }
  }

  std::unique_ptr<WmiIpmiMethod> method_;
  std::wstring instancePath_;
  WmiRetryPolicy policy_;
  LogSink log_;
  WmiPathEvents* events_;
  platform::Clock& clock_;
  bool tornDown_ = false;
  bool driverWaitsLogged_ = false;
};

}  // namespace

WmiPathOpening StartWmiPath(std::unique_ptr<WmiIpmiMethod> method, const WmiPathSetup& setup) {
  WmiPathOpening opening;
  std::wstring name;
  switch (method->FindInstanceName(kInstanceLookupTimeoutMs, &name)) {
    case InstanceLookup::kFound:
      break;
    case InstanceLookup::kMissing:
      opening.presence = WmiPresence::kInstanceUnresolved;
      opening.failedStep = WmiOpenStep::kInstanceMissing;
      return opening;
    case InstanceLookup::kTimedOut:
      opening.presence = WmiPresence::kInstanceUnresolved;
      opening.failedStep = WmiOpenStep::kInstanceTimedOut;
      return opening;
  }
  opening.presence = WmiPresence::kPresent;
  opening.driver = std::make_unique<WmiDriver>(std::move(method), IpmiInstancePath(name), setup);
  return opening;
}

}  // namespace transport
