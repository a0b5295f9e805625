#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bmcsim/faults/fault_rules.h"
#include "wire/byte_io.h"

namespace bmcsim {

// The driver a request came through: the vendor driver (also the tool's `send`), or the
// Microsoft IPMI driver's WMI provider.
enum class ExchangePath { kVendorDriver, kMicrosoftDriver };

// What the rules that fire on one exchange do to it, in rule order.
struct FaultPlan {
  bool methodCallFailed = false;
  bool unreachable = false;
  bool transferFailed = false;
  bool cancel = false;
  bool replaceCode = false;
  uint8_t completionCode = 0;
  uint32_t delayMs = 0;
  std::vector<const FaultRule*> edits;  // length, patch and flip rules
};

// Counts this exchange against every matching rule (skip first, then count) and collects
// the effects of those that fire. The plan points into rules.
FaultPlan TriggerFaults(std::vector<FaultRule>& rules, const uint8_t* request, size_t length,
                        ExchangePath path = ExchangePath::kVendorDriver);
void ApplyResponseEdits(const FaultPlan& plan, wire::Bytes* response);

}  // namespace bmcsim
