#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bmcsim/model/bmc_state.h"
#include "bmcsim/store/state_journal.h"
#include "bmcsim/store/state_slots.h"

namespace bmcsim {

// What a store wrote and read, for tests that keep saves cheap by counting.
struct StoreStats {
  uint64_t snapshots = 0;
  uint64_t snapshotBytes = 0;
  uint64_t records = 0;
  uint64_t recordBytes = 0;
  uint64_t loads = 0;
};

// The saved state of a state directory: two snapshot slots and a journal. A snapshot holds the
// whole state. Once the state is large (flash contents, mostly), the journal holds the saves
// made since the last snapshot, each with only what changed, so that a 28-byte flash write
// saves about 28 bytes rather than the whole flash; when the journal has grown to the size of
// the snapshot, the next save writes a snapshot and starts the journal over. A small state,
// and a change that is a good part of the state, are cheaper to save whole.
//
// Every write spares the newest complete state: a record is appended after it (a torn record
// fails its checksum and the journal ends before it); a snapshot goes into the slot the
// journal does not continue, and the journal is emptied (or, for a small state, removed) only
// after that. A load takes the slot that, with the journal records continuing it, reaches the
// highest generation. Without a journal, the slots' headers tell whether anybody saved.
//
// Callers hold the directory lock for every call.
class StateStore {
 public:
  static constexpr uint64_t kJournalFromBytes = 4 * 1024;

  // journalFromBytes: the snapshot size from which saves go into the journal.
  explicit StateStore(const std::string& dir, uint64_t journalFromBytes = kJournalFromBytes);

  // True when the state this store last loaded or saved is still the newest (nobody else
  // saved since); cheap: reads the journal's header and length, and unless the journal
  // continues the state, the slots' headers. Starts a step, which EndStep ends.
  bool UpToDate();
  bool Load(BmcState* state, std::string* error);
  // Replaces whatever the directory held by a fresh state of a new epoch.
  bool Initialize(const BmcState& state, uint64_t epoch, std::string* error);
  // Saves a state that differs from the last loaded or saved one in its sections and in the
  // listed flash cells only; nothing is written when nothing changed.
  bool SaveChanges(const BmcState& state, const std::vector<FlashChange>& flashChanges, std::string* error);
  // Saves a state whose flash may differ in any way.
  bool SaveWhole(const BmcState& state, std::string* error);
  // Closes what the step kept open; call before the directory lock is released.
  void EndStep() { journal_.Close(); }
  bool cached() const { return cached_; }
  const StoreStats& stats() const { return stats_; }

 private:
  bool WriteSnapshot(const BmcState& state, std::vector<std::string> sections, StateVersion version,
                     std::string* error);
  // Starts the journal over after a snapshot of a large state, else removes it; false when it
  // could do neither.
  bool RenewJournal(size_t snapshotBytes);
  bool NewestSlot(int* slot, StateVersion* version) const;

  StateSlots slots_;
  StateJournal journal_;
  uint64_t journalFromBytes_;
  uint64_t snapshotBytes_ = 0;  // of the snapshot the cached state builds on
  // The state last loaded or saved: its version, the slot it builds on, the journal as left.
  bool cached_ = false;
  StateVersion version_;
  int slot_ = -1;
  std::optional<JournalMark> journalSeen_;  // none: no readable journal
  bool continued_ = false;                  // the journal continues the state
  bool appendable_ = false;                 // ... and ends with a whole record
  std::vector<std::string> sections_;
  StoreStats stats_;
};

}  // namespace bmcsim
