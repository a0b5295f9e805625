#include "wire/hex_text.h"

#include <cstring>

namespace wire {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void AppendPair(std::string* text, uint8_t value) {
  *text += kDigits[value >> 4];
  *text += kDigits[value & 0xF];
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHexText(std::string_view text) {
  for (char c : text) {
    if (HexDigitValue(c) < 0) return false;
  }
  return true;
}

std::string HexDump(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve(size * 3);
  for (size_t i = 0; i < size; ++i) {
    AppendPair(&text, data[i]);
    text += ' ';
  }
  return text;
}

std::string HexSpaced(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve(size * 3);
  for (size_t i = 0; i < size; ++i) {
    if (i) text += ' ';
    AppendPair(&text, data[i]);
  }
  return text;
}

std::string HexCompact(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) AppendPair(&text, data[i]);
  return text;
}

std::string HexPair(uint8_t value) {
  std::string text;
  AppendPair(&text, value);
  return text;
}

bool ParseHexBytes(std::string_view text, Bytes* bytes) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (high >= 0) return false;  // a blank inside a byte
      continue;
    }
    const int digit = HexDigitValue(c);
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

bool HexToBytesRightAligned(std::string_view text, uint8_t* dest, size_t n) {
  if (n == 0 || text.empty() || text.size() > n * 2 || !IsHexText(text)) return false;
  const size_t covered = (text.size() + 1) / 2;
  std::memset(dest, 0, n - covered);
  uint8_t* out = dest + (n - covered);
  size_t pos = 0;
  if (text.size() % 2 == 1) *out++ = static_cast<uint8_t>(HexDigitValue(text[pos++]));
  for (; pos < text.size(); pos += 2) {
    *out++ = static_cast<uint8_t>(HexDigitValue(text[pos]) << 4 | HexDigitValue(text[pos + 1]));
  }
  return true;
}

}  // namespace wire
