#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bmcsim/model/bmc_exchange.h"
#include "bmcsim/model/bmc_model.h"
#include "bmcsim/model/bmc_state.h"
#include "bmcsim/store/state_store.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"

namespace bmcsim {

// A simulated BMC whose state lives in a directory, shared by every process that opens the
// same directory: each step takes the directory's file lock, loads the state (skipped when
// nobody saved since this object last did), works, saves (see StateStore: an interrupted
// save never damages the previous state) and releases the lock.
class BmcDirectory {
 public:
  // journalFromBytes: see StateStore.
  explicit BmcDirectory(std::string path, uint64_t journalFromBytes = StateStore::kJournalFromBytes);
  BmcDirectory(const BmcDirectory&) = delete;
  BmcDirectory& operator=(const BmcDirectory&) = delete;

  const std::string& path() const { return path_; }
  // True once Initialize has run on the directory.
  bool IsInitialized() const;
  // Creates the directory when missing (not its parents) and replaces whatever BMC was there
  // by this state, with an empty exchange log.
  bool Initialize(const BmcState& state, std::string* error);
  // A consistent copy of the current state.
  bool Read(BmcState* state, std::string* error);
  // Applies a change; when it returns false (with its error) the saved state stays as it was.
  using Change = std::function<bool(BmcState& state, std::string* error)>;
  bool Modify(const Change& change, std::string* error);
  // One request/response with fault rules, state update and a log line; latency and injected
  // delays are slept on the clock after the lock is released. A directory that was never
  // initialised is unreachable.
  ExchangeResult Exchange(const uint8_t* request, size_t length, platform::Clock& clock,
                          ExchangePath path = ExchangePath::kVendorDriver);
  // The exchange log, one line per exchange; emptied in the same step when clear is set.
  bool ReadLog(std::string* text, bool clear, std::string* error);
  // What this object wrote to and read from the state files.
  const StoreStats& storeStats() const { return store_.stats(); }

 private:
  // The directory's lock, or null (with the reason) when there is no BMC or no lock.
  std::unique_ptr<platform::FileLock> LockInitialized(std::string* error);
  bool LoadLocked(std::string* error);

  std::string path_;
  std::string lockPath_;
  std::string logPath_;
  StateStore store_;
  BmcModel model_;
  BmcState state_;  // as last loaded or saved, while store_ holds it as cached
};

}  // namespace bmcsim
