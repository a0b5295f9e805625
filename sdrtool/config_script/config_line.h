#pragma once
#include <string>

#include "sdrtool/error_catalogue.h"

namespace veltrop {

constexpr int kMaxConfigArguments = 5;
// A script line is read in pieces of at most this many characters.
constexpr int kConfigLineBuffer = 256;

// One stored script line; after parsing it also holds its command and arguments.
struct ConfigLine {
  std::string text;    // as loaded: trimmed, comment cut off
  int lineNumber = 0;  // counts every line read, blank and comment lines too
  int commandId = 0;
  int maxArguments = 0;
  int maxArgumentLength = 0;
  int argumentCount = 0;
  std::string keyword;  // as written in the script
  std::string arguments[kMaxConfigArguments];
};

enum class SdrGroup { First, Last };

// One SDRNAME command: an SDR file to program or compare.
struct SdrNameEntry {
  std::string fileName;
  bool compare = false;
  SdrGroup group = SdrGroup::First;
};

// Removes leading blanks, the comment from the first "//" outside double quotes, and
// trailing blanks and line ends. What remains may be empty.
std::string CleanConfigText(const char* raw);

// Finds the line's command and splits its arguments under the command's limits. Returns kNone,
// or the line's error (13, 14, 20, 22, 24, 69, 8); the caller reports it after 11.
SdrError ParseConfigLine(ConfigLine* line);

}  // namespace veltrop
