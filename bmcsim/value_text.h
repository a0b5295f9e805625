#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bmcsim/byte_io.h"

namespace bmcsim {

// A number in decimal or with a 0x prefix in hexadecimal, no sign, at most max.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value);

// Hex digit pairs; blanks between bytes are allowed ("18 01", "1801"). An odd number of
// digits or any other character fails.
bool ParseHexBytes(std::string_view text, Bytes* bytes);

// "1C 01 00": upper-case pairs separated by blanks, as the exchange log and `send` print them.
std::string HexSpaced(const uint8_t* data, size_t size);
inline std::string HexSpaced(const Bytes& bytes) {
  return HexSpaced(bytes.data(), bytes.size());
}
// "1C0100": the same without blanks, for JSON and fault rules.
std::string HexCompact(const uint8_t* data, size_t size);
inline std::string HexCompact(const Bytes& bytes) {
  return HexCompact(bytes.data(), bytes.size());
}
// "0x0a": one byte as the fault rules and messages spell it.
std::string HexByte(uint8_t value);

}  // namespace bmcsim
