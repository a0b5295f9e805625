#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "bmcsim/model/bmc_state.h"

namespace bmcsim {

// A payload is a list of tagged sections (tag, length, content). A whole state holds every
// section; a journal record holds only the sections that changed and the flash cells that
// changed, and applies over the state before it.

// The state's bytes without the file header; equal states give equal bytes.
std::string SerializeState(const BmcState& state);
// Parses what SerializeState wrote; *state is left alone on failure.
bool ParseStatePayload(std::string_view payload, BmcState* state, std::string* error);

// Every section but the flash contents, each with its tag and length, in a fixed order: a save
// compares them with the last saved ones to find what changed.
std::vector<std::string> SerializeSections(const BmcState& state);
// SerializeState from the sections SerializeSections gave for the same state.
std::string SerializeState(const BmcState& state, const std::vector<std::string>& sections);
// The changed cells with their present contents, as sections for a journal record.
std::string FlashChangeSections(const BmcState& state, const std::vector<FlashChange>& changes);
// Applies a payload's sections over *state. On failure *state is partly changed.
bool ApplyStatePayload(std::string_view payload, BmcState* state, std::string* error);

}  // namespace bmcsim
