#pragma once
#include <string>

namespace status {

// The SDR tool's result directory: "" when ExUpInfo.xml is in the current directory, else
// the nearest of "../", "../../", ... (one level per separator of the current directory)
// that holds it, else "".
std::string LocateResultDir();

}  // namespace status
