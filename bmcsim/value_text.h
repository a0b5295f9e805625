#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bmcsim/byte_io.h"
#include "wire/hex_text.h"

namespace bmcsim {

// A number in decimal or with a 0x prefix in hexadecimal, no sign, at most max.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value);

// The hex forms of the exchange log, JSON and fault rules.
using wire::HexCompact;
using wire::HexSpaced;
using wire::ParseHexBytes;

// "0x0a": one byte as the fault rules and messages spell it.
std::string HexByte(uint8_t value);

}  // namespace bmcsim
