#include "bmcsim/store/bmc_directory.h"

#include <cstdio>
#include <random>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/process.h"

namespace bmcsim {
namespace {

// Distinguishes this initialisation from any earlier one of the same directory, so a reader
// that cached an old state never takes a new one for it.
uint64_t NewEpoch() {
  std::random_device device;
  uint64_t random = static_cast<uint64_t>(device()) << 32 | device();
  return random ^ static_cast<uint64_t>(platform::SystemClock().MonotonicMs()) ^
         static_cast<uint64_t>(platform::CurrentProcessId()) << 40;
}

void AppendLine(const std::string& path, const std::string& line) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return;                       // a lost log line does not fail the exchange
  std::setvbuf(f, nullptr, _IONBF, 0);  // one write, no buffer to set up
  std::string text = line + '\n';
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// Ends the store's step when a locked step ends, before its lock goes.
class StepEnd {
 public:
  explicit StepEnd(StateStore& store) : store_(store) {}
  ~StepEnd() { store_.EndStep(); }
  StepEnd(const StepEnd&) = delete;
  StepEnd& operator=(const StepEnd&) = delete;

 private:
  StateStore& store_;
};

}  // namespace

BmcDirectory::BmcDirectory(std::string path, uint64_t journalFromBytes)
    : path_(std::move(path)),
      lockPath_(platform::JoinPath(path_, "bmcsim.lock")),
      logPath_(platform::JoinPath(path_, "exchange.log")),
      store_(path_, journalFromBytes) {}

bool BmcDirectory::IsInitialized() const {
  // Checked before taking the lock, so that a stray directory gets no lock file; the state
  // files are only touched under the lock.
  return platform::FileReadable(lockPath_);
}

bool BmcDirectory::Initialize(const BmcState& state, std::string* error) {
  if (!platform::MakeDirectory(path_)) {
    *error = "cannot create the directory " + path_;
    return false;
  }
  auto lock = platform::FileLock::Acquire(lockPath_);
  if (!lock) {
    *error = "cannot lock " + lockPath_;
    return false;
  }
  StepEnd stepEnd(store_);
  if (!store_.Initialize(state, NewEpoch(), error)) return false;
  state_ = state;
  if (!platform::WriteFileAtomically(logPath_, "")) {
    *error = "cannot write " + logPath_;
    return false;
  }
  return true;
}

std::unique_ptr<platform::FileLock> BmcDirectory::LockInitialized(std::string* error) {
  if (!IsInitialized()) {
    *error = path_ + " holds no simulated BMC (bmcsim init)";
    return nullptr;
  }
  auto lock = platform::FileLock::Acquire(lockPath_);
  if (!lock) *error = "cannot lock " + lockPath_;
  return lock;
}

bool BmcDirectory::Read(BmcState* state, std::string* error) {
  auto lock = LockInitialized(error);
  if (!lock) return false;
  StepEnd stepEnd(store_);
  if (!LoadLocked(error)) return false;
  *state = state_;
  return true;
}

bool BmcDirectory::Modify(const Change& change, std::string* error) {
  auto lock = LockInitialized(error);
  if (!lock) return false;
  StepEnd stepEnd(store_);
  if (!LoadLocked(error)) return false;
  BmcState changed = state_;
  if (!change(changed, error)) return false;
  bool flashChanged = false;
  for (int bank = 0; bank < 2; ++bank) {
    flashChanged = flashChanged || changed.firmware.banks[bank] != state_.firmware.banks[bank];
  }
  bool saved = flashChanged ? store_.SaveWhole(changed, error) : store_.SaveChanges(changed, {}, error);
  if (saved) state_ = std::move(changed);
  return saved;
}

ExchangeResult BmcDirectory::Exchange(const uint8_t* request, size_t length, platform::Clock& clock,
                                      ExchangePath path) {
  ExchangeResult result;
  result.outcome = ExchangeOutcome::kUnreachable;
  // A directory this object has loaded from was initialised; checking again costs a file
  // system call per exchange.
  if (!store_.cached() && !IsInitialized()) return result;
  {
    auto lock = platform::FileLock::Acquire(lockPath_);
    if (!lock) return result;
    StepEnd stepEnd(store_);
    std::string error;
    if (!LoadLocked(&error)) return result;
    result = RunExchange(model_, state_, request, length, clock, path);
    if (!store_.SaveChanges(state_, result.flashChanges, &error)) {
      // The BMC could not keep what it did: report a failed transfer.
      result.outcome = ExchangeOutcome::kTransferFailed;
    }
    AppendLine(logPath_, ExchangeLogLine(request, length, result));
  }
  if (result.delayMs > 0) clock.SleepMs(result.delayMs);
  return result;
}

bool BmcDirectory::ReadLog(std::string* text, bool clear, std::string* error) {
  auto lock = LockInitialized(error);
  if (!lock) return false;
  text->clear();
  if (platform::FileReadable(logPath_) && !platform::ReadWholeFile(logPath_, text)) {
    *error = "cannot read " + logPath_;
    return false;
  }
  if (clear && !platform::WriteFileAtomically(logPath_, "")) {
    *error = "cannot write " + logPath_;
    return false;
  }
  return true;
}

bool BmcDirectory::LoadLocked(std::string* error) {
  if (store_.UpToDate()) return true;
  if (store_.Load(&state_, error)) return true;
  StateVersion version;
  StateSlots slots(path_);
  if (!slots.Header(0, &version) && !slots.Header(1, &version)) {
    *error = path_ + " holds no simulated BMC (bmcsim init)";
  }
  return false;
}

}  // namespace bmcsim
