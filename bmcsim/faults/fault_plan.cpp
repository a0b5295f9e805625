#include "bmcsim/faults/fault_plan.h"

#include <algorithm>

namespace bmcsim {
namespace {

bool Matches(const FaultRule& rule, const uint8_t* request, size_t length, ExchangePath path) {
  if (rule.effect == FaultEffect::kWmiFail && path != ExchangePath::kMicrosoftDriver) return false;
  if (length < 2 || request[0] >> 2 != rule.netFn || request[1] != rule.command) return false;
  if (rule.match.size() > length - 2) return false;
  return std::equal(rule.match.begin(), rule.match.end(), request + 2);
}

}  // namespace

FaultPlan TriggerFaults(std::vector<FaultRule>& rules, const uint8_t* request, size_t length,
                        ExchangePath path) {
  FaultPlan plan;
  for (FaultRule& rule : rules) {
    if (!Matches(rule, request, length, path)) continue;
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    if (!rule.always) {
      if (rule.count == 0) continue;
      --rule.count;
    }
    switch (rule.effect) {
      case FaultEffect::kCompletionCode:
        plan.replaceCode = true;
        plan.completionCode = static_cast<uint8_t>(rule.value);
        break;
      case FaultEffect::kStatus:
        (rule.value == 9 ? plan.unreachable : plan.transferFailed) = true;
        break;
      case FaultEffect::kDelay:
        plan.delayMs += rule.value;
        break;
      case FaultEffect::kCancel:
        plan.cancel = true;
        break;
      case FaultEffect::kWmiFail:
        plan.methodCallFailed = true;
        break;
      case FaultEffect::kLength:
      case FaultEffect::kPatch:
      case FaultEffect::kFlip:
        plan.edits.push_back(&rule);
        break;
    }
  }
  return plan;
}

void ApplyResponseEdits(const FaultPlan& plan, wire::Bytes* response) {
  for (const FaultRule* rule : plan.edits) {
    if (rule->effect == FaultEffect::kLength) {
      response->resize(rule->value, 0);
    } else if (rule->effect == FaultEffect::kFlip) {
      // A response without that data byte (an error answer, say) is left alone.
      size_t at = 2 + rule->value;
      if (at < response->size()) (*response)[at] ^= rule->patch.empty() ? 0xFF : rule->patch[0];
    } else {
      size_t end = rule->value + rule->patch.size();
      if (response->size() < end) response->resize(end, 0);
      std::copy(rule->patch.begin(), rule->patch.end(), response->begin() + rule->value);
    }
  }
}

}  // namespace bmcsim
