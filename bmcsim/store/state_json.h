#pragma once
#include <string>

#include "bmcsim/model/bmc_state.h"

namespace bmcsim {

// The state as a JSON object: identity, settings, the active repository with its records as
// hex strings, the update lock and the spared repository, channel 2's access settings, the
// firmware flash (selectors, ID chip, per-bank counts; not its contents), the fault rules.
std::string StateToJson(const BmcState& state);

}  // namespace bmcsim
