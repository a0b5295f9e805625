#include "bmcsim/value_text.h"

namespace bmcsim {

bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    int digit = wire::HexDigitValue(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
    if (v > (max - static_cast<uint64_t>(digit)) / base) return false;
    v = v * base + static_cast<uint64_t>(digit);
  }
  *value = v;
  return true;
}

std::string HexByte(uint8_t value) {
  const char lower[] = "0123456789abcdef";
  return std::string("0x") + lower[value >> 4] + lower[value & 0xF];
}

}  // namespace bmcsim
