#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace runcontrol {

enum class SwitchValue {
  kNone,
  kOptional,  // the next argument, when there is one that does not begin with "-"
  kRequired,  // the next argument, whatever it is; a switch without one is rejected
};

// One row of a program's switch table.
struct SwitchRule {
  const char* name;
  // Compared without regard to ASCII letter case unless exactCase.
  bool exactCase = false;
  SwitchValue value = SwitchValue::kNone;
  // Applies the switch; value is null when none was taken. False rejects the switch.
  std::function<bool(const std::string* value)> apply;
};

// Parses argv[first..argc) against the table, in order, stopping at the first switch that is
// unknown or rejected. True when every argument was accepted.
bool ParseSwitches(const std::vector<SwitchRule>& rules, int argc, const char* const* argv, int first);

// A switch value read as the C library's decimal conversion reads it: leading blanks, an
// optional sign, digits up to the first other character; no digits: 0.
struct LeadingNumber {
  // The number, its magnitude held at the first value past 0x7FFFFFFF once it gets there.
  int64_t value = 0;
  // The magnitude left 31 bits.
  bool overflow = false;
  // The number wrapped like a 32-bit int, so overlong numbers stay defined.
  int32_t wrapped = 0;
};
LeadingNumber ReadLeadingNumber(const std::string& text);

// ReadLeadingNumber(text).wrapped.
int32_t ConvertNumber(const std::string& text);

}  // namespace runcontrol
