#include "bmcsim/value_text.h"

namespace bmcsim {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char kDigits[] = "0123456789ABCDEF";

}  // namespace

bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
    if (v > (max - static_cast<uint64_t>(digit)) / base) return false;
    v = v * base + static_cast<uint64_t>(digit);
  }
  *value = v;
  return true;
}

bool ParseHexBytes(std::string_view text, Bytes* bytes) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (high >= 0) return false;  // a blank inside a byte
      continue;
    }
    int digit = HexDigit(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) return false;
  *bytes = std::move(out);
  return true;
}

std::string HexSpaced(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve(size * 3);
  for (size_t i = 0; i < size; ++i) {
    if (i) text += ' ';
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
  }
  return text;
}

std::string HexCompact(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
  }
  return text;
}

std::string HexByte(uint8_t value) {
  const char lower[] = "0123456789abcdef";
  return std::string("0x") + lower[value >> 4] + lower[value & 0xF];
}

}  // namespace bmcsim
