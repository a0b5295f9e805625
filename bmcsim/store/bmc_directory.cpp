#include "bmcsim/store/bmc_directory.h"

#include <cstdio>
#include <random>

#include "bmcsim/store/state_payload.h"
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
  if (!f) return;  // a lost log line does not fail the exchange
  std::fwrite(line.data(), 1, line.size(), f);
  std::fputc('\n', f);
  std::fclose(f);
}

}  // namespace

BmcDirectory::BmcDirectory(std::string path)
    : path_(std::move(path)),
      lockPath_(platform::JoinPath(path_, "bmcsim.lock")),
      logPath_(platform::JoinPath(path_, "exchange.log")),
      slots_(path_) {}

bool BmcDirectory::IsInitialized() const {
  // Checked before taking the lock, so that a stray directory gets no lock file; the state
  // files are only touched under the lock.
  return platform::FileExists(lockPath_);
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
  StateVersion version;
  version.epoch = NewEpoch();
  version.generation = slots_.PrepareFresh();
  if (!SaveLocked(state, SerializeState(state), version, error)) return false;
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
  if (!LoadLocked(error)) return false;
  *state = state_;
  return true;
}

bool BmcDirectory::Modify(const Change& change, std::string* error) {
  auto lock = LockInitialized(error);
  if (!lock) return false;
  if (!LoadLocked(error)) return false;
  BmcState changed = state_;
  if (!change(changed, error)) return false;
  std::string payload = SerializeState(changed);
  if (payload == payload_) return true;
  StateVersion next = version_;
  ++next.generation;
  return SaveLocked(std::move(changed), std::move(payload), next, error);
}

ExchangeResult BmcDirectory::Exchange(const uint8_t* request, size_t length, platform::Clock& clock) {
  ExchangeResult result;
  result.outcome = ExchangeOutcome::kUnreachable;
  if (!IsInitialized()) return result;
  {
    auto lock = platform::FileLock::Acquire(lockPath_);
    std::string error;
    if (!lock || !LoadLocked(&error)) return result;
    result = RunExchange(model_, state_, request, length, clock);
    std::string payload = SerializeState(state_);
    if (payload != payload_) {
      StateVersion next = version_;
      ++next.generation;
      if (!SaveLocked(std::move(state_), std::move(payload), next, &error)) {
        // The BMC could not keep what it did: report a failed transfer.
        result.outcome = ExchangeOutcome::kTransferFailed;
      }
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
  if (platform::FileExists(logPath_) && !platform::ReadWholeFile(logPath_, text)) {
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
  StateVersion newest;
  if (cached_ && slots_.NewestVersion(&newest) && newest == version_) return true;
  cached_ = false;
  BmcState state;
  StateVersion version;
  if (!slots_.Load(&state, &version, error)) {
    if (!slots_.NewestVersion(&newest)) *error = path_ + " holds no simulated BMC (bmcsim init)";
    return false;
  }
  state_ = std::move(state);
  payload_ = SerializeState(state_);
  version_ = version;
  cached_ = true;
  return true;
}

bool BmcDirectory::SaveLocked(BmcState state, std::string payload, StateVersion version, std::string* error) {
  if (!slots_.Save(payload, version, error)) {
    cached_ = false;
    return false;
  }
  state_ = std::move(state);
  payload_ = std::move(payload);
  version_ = version;
  cached_ = true;
  return true;
}

}  // namespace bmcsim
