#include "bmcsim/model/bmc_exchange.h"

#include "bmcsim/faults/fault_plan.h"
#include "wire/hex_text.h"

namespace bmcsim {

ExchangeResult RunExchange(const BmcModel& model, BmcState& state, const uint8_t* request, size_t length,
                           platform::Clock& clock, ExchangePath path) {
  ExchangeResult result;
  if (length < 2) {
    result.outcome = ExchangeOutcome::kTransferFailed;
    return result;
  }
  // A host without the driver has no provider to answer its method; no rule sees the request.
  if (path == ExchangePath::kMicrosoftDriver && !state.microsoftDriver) {
    result.outcome = ExchangeOutcome::kMethodCallFailed;
    return result;
  }
  // A booting BMC hears nothing, so no fault rule counts the request either.
  if (Booting(state, clock.MonotonicMs())) {
    result.outcome = ExchangeOutcome::kUnreachable;
    return result;
  }
  FaultPlan plan = TriggerFaults(state.faults, request, length, path);
  result.delayMs = plan.delayMs;
  if (plan.methodCallFailed) {
    result.outcome = ExchangeOutcome::kMethodCallFailed;
    return result;
  }
  if (plan.unreachable) {
    result.outcome = ExchangeOutcome::kUnreachable;
    return result;
  }
  result.delayMs += state.settings.latencyMs;
  if (plan.cancel) CancelReservations(state);
  result.response = plan.replaceCode ? ResponseFrame(request, plan.completionCode)
                                     : model.Handle(state, request, length, clock, &result.flashChanges);
  ApplyResponseEdits(plan, &result.response);
  // The request was carried out; only its answer is lost.
  if (plan.transferFailed) result.outcome = ExchangeOutcome::kTransferFailed;
  return result;
}

std::string ExchangeLogLine(const uint8_t* request, size_t length, const ExchangeResult& result) {
  std::string line = wire::HexSpaced(request, length) + " -> ";
  switch (result.outcome) {
    case ExchangeOutcome::kResponse:
      return line + wire::HexSpaced(result.response);
    case ExchangeOutcome::kUnreachable:
      return line + "status 9";
    case ExchangeOutcome::kTransferFailed:
      return line + "status 10";
    case ExchangeOutcome::kMethodCallFailed:
      return line + "status 10 (method call failed)";
  }
  return line;
}

}  // namespace bmcsim
