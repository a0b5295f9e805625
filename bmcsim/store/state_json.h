#pragma once
#include <string>

#include "bmcsim/model/bmc_state.h"

namespace bmcsim {

// The state as a JSON object: identity, settings, the active repository with its records as
// hex strings, the update lock and the spared repository, the fault rules.
std::string StateToJson(const BmcState& state);

}  // namespace bmcsim
