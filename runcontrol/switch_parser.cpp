#include "runcontrol/switch_parser.h"

#include <cstdint>

#include "wire/text_compare.h"

namespace runcontrol {
namespace {

const SwitchRule* FindRule(const std::vector<SwitchRule>& rules, const std::string& arg) {
  for (const SwitchRule& rule : rules) {
    if (rule.exactCase ? arg == rule.name : wire::EqualsIgnoreCase(arg, rule.name)) return &rule;
  }
  return nullptr;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool ParseSwitches(const std::vector<SwitchRule>& rules, int argc, const char* const* argv, int first) {
  for (int i = first; i < argc; ++i) {
    const SwitchRule* rule = FindRule(rules, argv[i]);
    if (!rule) return false;
    std::string value;
    bool hasValue = false;
    switch (rule->value) {
      case SwitchValue::kNone:
        break;
      case SwitchValue::kOptional:
        if (i + 1 < argc && argv[i + 1][0] != '-') {
          value = argv[++i];
          hasValue = true;
        }
        break;
      case SwitchValue::kRequired:
        if (i + 1 >= argc) return false;
        value = argv[++i];
        hasValue = true;
        break;
    }
    if (!rule->apply(hasValue ? &value : nullptr)) return false;
  }
  return true;
}

LeadingNumber ReadLeadingNumber(const std::string& text) {
  constexpr int64_t kLargest = 0x7FFFFFFF;
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  uint32_t low = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (magnitude <= kLargest) magnitude = magnitude * 10 + digit;
    low = low * 10u + static_cast<uint32_t>(digit);
  }
  LeadingNumber number;
  number.overflow = magnitude > kLargest;
  number.value = negative ? -magnitude : magnitude;
  number.wrapped = static_cast<int32_t>(negative ? 0u - low : low);
  return number;
}

int32_t ConvertNumber(const std::string& text) {
  return ReadLeadingNumber(text).wrapped;
}

}  // namespace runcontrol
