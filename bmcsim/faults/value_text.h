#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace bmcsim {

// A number in decimal or with a 0x prefix in hexadecimal, no sign, at most max: the form of
// fault rules and of the tool's options.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value);

// "0x0a": one byte as the fault rules and messages spell it.
std::string HexByte(uint8_t value);

}  // namespace bmcsim
