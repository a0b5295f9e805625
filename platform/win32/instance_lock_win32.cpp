#include <windows.h>

#include <string>

#include "platform/instance_lock.h"
#include "platform/lock_wait.h"

namespace platform {
namespace {

class MutexHolder : public InstanceLock {
 public:
  explicit MutexHolder(HANDLE h) : h_(h) {}
  ~MutexHolder() override { CloseHandle(h_); }

 private:
  HANDLE h_;
};

// A lock file held with a byte-range lock: the instance lock of one directory (a simulated
// machine has its own), released when the handle closes, also when the process dies.
class LockedFileHolder : public InstanceLock {
 public:
  explicit LockedFileHolder(HANDLE h) : h_(h) {}
  ~LockedFileHolder() override { CloseHandle(h_); }

 private:
  HANDLE h_;
};

std::unique_ptr<InstanceLock> TryLockFileIn(const std::string& name, const std::string& lockDir,
                                            LockResult* result, std::string* detail) {
  std::string fileName = name;
  for (char& c : fileName) {
    if (c == '/' || c == '\\') c = '_';
  }
  const std::string path = lockDir + "\\" + fileName + ".lock";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (detail) *detail = path + ": system error " + std::to_string(GetLastError());
    *result = LockResult::kFailed;
    return nullptr;
  }
  OVERLAPPED ov{};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &ov)) {
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (error == ERROR_LOCK_VIOLATION) {
      *result = LockResult::kHeldElsewhere;
    } else {
      if (detail) *detail = path + ": system error " + std::to_string(error);
      *result = LockResult::kFailed;
    }
    return nullptr;
  }
  *result = LockResult::kAcquired;
  return std::make_unique<LockedFileHolder>(h);
}

class FileLockHolder : public FileLock {
 public:
  explicit FileLockHolder(HANDLE h) : h_(h) {}
  ~FileLockHolder() override {
    OVERLAPPED ov{};
    UnlockFileEx(h_, 0, MAXDWORD, MAXDWORD, &ov);
    CloseHandle(h_);
  }

 private:
  HANDLE h_;
};

}  // namespace

std::unique_ptr<InstanceLock> TryAcquireInstanceLock(const std::string& name, LockResult* result,
                                                     const std::string& lockDir, std::string* detail) {
  if (detail) detail->clear();
  if (!lockDir.empty()) return TryLockFileIn(name, lockDir, result, detail);
  HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
  if (h == nullptr) {
    if (detail) *detail = "mutex " + name + ": system error " + std::to_string(GetLastError());
    *result = LockResult::kFailed;
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    *result = LockResult::kHeldElsewhere;
    return nullptr;
  }
  *result = LockResult::kAcquired;
  return std::make_unique<MutexHolder>(h);
}

std::unique_ptr<FileLock> FileLock::Acquire(const std::string& path, uint32_t timeoutMs, Clock& clock) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  bool taken = internal::RetryLockUntil(clock, timeoutMs, [h] {
    OVERLAPPED ov{};
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &ov)) {
      return internal::LockAttempt::kTaken;
    }
    bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
    return busy ? internal::LockAttempt::kBusy : internal::LockAttempt::kFailed;
  });
  if (!taken) {
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<FileLockHolder>(h);
}

}  // namespace platform
