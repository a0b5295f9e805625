#include "bmcsim/faults/value_text.h"

#include "wire/hex_text.h"
#include "wire/text_compare.h"

namespace bmcsim {

bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && wire::AsciiLower(text[1]) == 'x') {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    int digit = wire::HexDigitValue(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
    uint64_t d = static_cast<uint64_t>(digit);
    if (d > max || v > (max - d) / base) return false;
    v = v * base + static_cast<uint64_t>(digit);
  }
  *value = v;
  return true;
}

std::string HexByte(uint8_t value) {
  return "0x" + wire::AsciiLowerText(wire::HexPair(value));
}

}  // namespace bmcsim
