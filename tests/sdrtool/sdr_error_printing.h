#pragma once
#include <ostream>

#include "sdrtool/error_catalogue.h"

namespace veltrop {

// Failed expectations name the error by its number.
inline void PrintTo(SdrError error, std::ostream* os) {
  *os << "error " << ErrorNumber(error);
}

}  // namespace veltrop
