#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bmcsim/faults/fault_plan.h"
#include "bmcsim/model/bmc_model.h"
#include "bmcsim/model/bmc_state.h"
#include "platform/clock.h"

namespace bmcsim {

enum class ExchangeOutcome {
  kResponse,        // a response came back (its completion code may be non-zero)
  kUnreachable,     // the device could not be reached: the request never arrived
  kTransferFailed,  // the transfer failed; the request may have been carried out
  // The Microsoft driver's method call failed (a wmi=fail rule, or a host without the driver):
  // the request never reached the BMC.
  kMethodCallFailed,
};

struct ExchangeResult {
  ExchangeOutcome outcome = ExchangeOutcome::kResponse;
  wire::Bytes response;                   // meaningful for kResponse only
  uint32_t delayMs = 0;                   // latency and injected delay, to be slept by the caller
  std::vector<FlashChange> flashChanges;  // flash cells the request changed
};

// One exchange on an in-memory BMC: the fault rules first, then the model. A request shorter
// than 2 bytes fails the transfer.
ExchangeResult RunExchange(const BmcModel& model, BmcState& state, const uint8_t* request, size_t length,
                           platform::Clock& clock, ExchangePath path = ExchangePath::kVendorDriver);

// The exchange log line: request hex, "->", then the response hex, "status 9"/"status 10", or
// "status 10 (method call failed)".
std::string ExchangeLogLine(const uint8_t* request, size_t length, const ExchangeResult& result);

}  // namespace bmcsim
