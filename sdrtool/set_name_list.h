#pragma once
#include <string>
#include <vector>

namespace veltrop {

// Names set by a configuration script; they select tagged SDR records and IFSET branches.
using SetNameList = std::vector<std::string>;

}  // namespace veltrop
