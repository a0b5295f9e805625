#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "bmcsim/model/bmc_state.h"

namespace bmcsim {

// Identifies one saved state: the epoch is chosen when a BMC is initialised, the generation
// grows with every save. A reader that still holds this version need not load again.
struct StateVersion {
  uint64_t epoch = 0;
  uint64_t generation = 0;
  bool operator==(const StateVersion& other) const {
    return epoch == other.epoch && generation == other.generation;
  }
  bool operator!=(const StateVersion& other) const { return !(*this == other); }
};

// The whole state file around a payload from SerializeState: signature, version, payload
// length and checksum, payload.
std::string StateFileContent(const std::string& payload, StateVersion version);
// Parses a state file; bytes after the payload are ignored.
bool ParseStateFile(std::string_view content, BmcState* state, StateVersion* version, std::string* error);
// Reads only the header of a state file.
bool ReadStateVersion(const std::string& path, StateVersion* version);

// The checksum of state files and journal records, over the parts in order.
uint32_t StateChecksum(std::initializer_list<std::string_view> parts);

}  // namespace bmcsim
