#pragma once
#include <string>
#include <string_view>

namespace wire {

// ASCII letter case only: the programs' switches, keywords and names are plain ASCII, and
// the locale must not change how they match.
char AsciiUpper(char c);
char AsciiLower(char c);
std::string AsciiLowerText(std::string_view text);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

}  // namespace wire
