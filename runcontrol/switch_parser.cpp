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

int32_t ConvertNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

}  // namespace runcontrol
