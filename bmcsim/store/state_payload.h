#pragma once
#include <string>
#include <string_view>

#include "bmcsim/model/bmc_state.h"

namespace bmcsim {

// The state's bytes without the file header; equal states give equal bytes.
std::string SerializeState(const BmcState& state);
// Parses what SerializeState wrote; *state is left alone on failure.
bool ParseStatePayload(std::string_view payload, BmcState* state, std::string* error);

}  // namespace bmcsim
