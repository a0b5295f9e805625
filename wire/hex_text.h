#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/byte_io.h"

namespace wire {

// 0..15, or -1 when c is not a hex digit.
int HexDigitValue(char c);
bool IsHexText(std::string_view text);

// "18 01 ": every byte as two upper-case digits followed by a blank, the form of the
// programs' request/response log lines.
std::string HexDump(const uint8_t* data, size_t size);
// "18 01": the bytes separated by blanks.
std::string HexSpaced(const uint8_t* data, size_t size);
inline std::string HexSpaced(const Bytes& bytes) {
  return HexSpaced(bytes.data(), bytes.size());
}
// "1801": the bytes without blanks.
std::string HexCompact(const uint8_t* data, size_t size);
inline std::string HexCompact(const Bytes& bytes) {
  return HexCompact(bytes.data(), bytes.size());
}
// "0A": one byte as two upper-case digits.
std::string HexPair(uint8_t value);

// Hex digit pairs; blanks between bytes are allowed ("18 01", "1801"). An odd number of
// digits or any other character fails.
bool ParseHexBytes(std::string_view text, Bytes* bytes);

// Writes the hex text right-aligned into n bytes, most significant first ("ABC", 2 gives
// 0A BC). False, with dest untouched, for n = 0, an empty text, more than 2n digits or a
// character that is no hex digit.
bool HexToBytesRightAligned(std::string_view text, uint8_t* dest, size_t n);

}  // namespace wire
