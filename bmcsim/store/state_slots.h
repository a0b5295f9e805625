#pragma once
#include <string>

#include "bmcsim/model/bmc_state.h"
#include "bmcsim/store/state_file.h"

namespace bmcsim {

// The state directory's two snapshot files, written in place: no file is created or renamed
// per save (which costs milliseconds on some file systems). Which slot to write, so that the
// state a save builds on is never touched, is the caller's choice (see StateStore).
class StateSlots {
 public:
  explicit StateSlots(const std::string& dir);

  // The version a slot's header claims; false for a slot without a readable header.
  bool Header(int slot, StateVersion* version) const;
  // Loads a slot whose checksum holds; *fileBytes is the size of its file.
  bool Load(int slot, BmcState* state, StateVersion* version, size_t* fileBytes, std::string* error) const;
  bool Save(int slot, const std::string& payload, StateVersion version, std::string* error);
  const std::string& path(int slot) const { return paths_[slot]; }

 private:
  std::string paths_[2];
};

}  // namespace bmcsim
