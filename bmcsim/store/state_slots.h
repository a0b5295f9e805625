#pragma once
#include <string>

#include "bmcsim/model/bmc_state.h"
#include "bmcsim/store/state_file.h"

namespace bmcsim {

// The state directory's two state files, written alternately and in place: a save never
// touches the newest complete state, so an interrupted save loses only itself, and no file
// is created or renamed per exchange (which costs milliseconds on some file systems). The
// newer slot by generation whose checksum holds is the state. Callers hold the directory
// lock.
class StateSlots {
 public:
  explicit StateSlots(const std::string& dir);

  // The newest version any slot's header claims; false when no slot has a header.
  bool NewestVersion(StateVersion* version) const;
  // Loads the newest slot that parses and remembers it, so that Save writes the other one.
  bool Load(BmcState* state, StateVersion* version, std::string* error);
  // For a fresh BMC: the generation above every slot's, and Save will spare the newest slot.
  uint64_t PrepareFresh();
  bool Save(const std::string& payload, StateVersion version, std::string* error);

 private:
  std::string paths_[2];
  int current_ = -1;  // the slot holding the state last loaded or saved
};

}  // namespace bmcsim
