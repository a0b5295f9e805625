#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bmcsim/model/bmc_exchange.h"
#include "bmcsim/model/bmc_model.h"
#include "bmcsim/model/bmc_state.h"
#include "bmcsim/store/state_file.h"
#include "bmcsim/store/state_slots.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"

namespace bmcsim {

// A simulated BMC whose state lives in a directory, shared by every process that opens the
// same directory: each step takes the directory's file lock, loads the state (skipped when
// nobody saved since this object last did), works, saves (see StateSlots: an interrupted
// save never damages the previous state) and releases the lock.
class BmcDirectory {
 public:
  explicit BmcDirectory(std::string path);
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
  ExchangeResult Exchange(const uint8_t* request, size_t length, platform::Clock& clock);
  // The exchange log, one line per exchange; emptied in the same step when clear is set.
  bool ReadLog(std::string* text, bool clear, std::string* error);

 private:
  // The directory's lock, or null (with the reason) when there is no BMC or no lock.
  std::unique_ptr<platform::FileLock> LockInitialized(std::string* error);
  bool LoadLocked(std::string* error);
  bool SaveLocked(BmcState state, std::string payload, StateVersion version, std::string* error);

  std::string path_;
  std::string lockPath_;
  std::string logPath_;
  StateSlots slots_;
  BmcModel model_;
  // The state as last loaded or saved by this object, and the bytes it was saved as.
  bool cached_ = false;
  BmcState state_;
  std::string payload_;
  StateVersion version_;
};

}  // namespace bmcsim
