#pragma once
#include <string>

namespace veltrop {

// Where the result files go: "" when ExUpInfo.xml is in the current directory, else the nearest
// of "../", "../../", ... (one level per separator of the current directory) that holds it,
// else "".
std::string LocateResultDir();

}  // namespace veltrop
