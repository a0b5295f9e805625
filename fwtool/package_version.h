#pragma once
#include "platform/console.h"

namespace korvane {

// The package version from ExUpInfo.xml in the current directory: 0 and the text (at most 5
// characters), or -1 (XML machinery unavailable), -2 (missing, not well-formed, or with a
// document type), -3 (no document element or no version element), -4 (empty version text, a
// text of 6 characters or more, or an error while reading).
int ReadExUpInfoVersion(char out[8], platform::Console& console);

}  // namespace korvane
