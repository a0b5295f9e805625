#pragma once
#include <string>

#include "platform/console.h"

namespace status {

// The SDR tool's result directory: "" when ExUpInfo.xml is in the current directory, else
// the nearest of "../", "../../", ... (one level per separator of the current directory)
// that holds it, else "".
std::string LocateResultDir();

// The firmware tool's package version from ExUpInfo.xml in the current directory:
// 0 and the text (at most 5 characters), or -1 (XML machinery unavailable), -2 (missing, not
// well-formed or with a document type, whose entities are never resolved), -3 (no document
// element or no version element), -4 (empty version text, a text of 6 characters or more, or
// an error while reading).
int ReadExUpInfoVersion(char out[8], platform::Console& console);

}  // namespace status
