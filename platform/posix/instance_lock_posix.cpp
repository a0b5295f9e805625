#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/lock_wait.h"
#include "platform/posix/lock_directory.h"

namespace platform {
namespace {

class FlockHolder : public InstanceLock, public FileLock {
 public:
  explicit FlockHolder(int fd) : fd_(fd) {}
  ~FlockHolder() override { close(fd_); }  // closing releases the flock

 private:
  int fd_;
};

void SetDetail(std::string* detail, const std::string& text) {
  if (detail) *detail = text;
}

// Opens (creating if needed) a lock file without following symlinks and without truncating
// a file that may belong to someone else; -1 (reason in *detail) when that is not possible.
int OpenLockFile(const std::string& path, std::string* detail) {
  int flags = O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int fd = open(path.c_str(), O_RDWR | flags, 0644);
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    SetDetail(detail, path + ": " + std::strerror(errno));
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    SetDetail(detail, path + ": not a regular file");
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

namespace internal {

std::string ChooseLockDirectory(const std::vector<std::string>& candidates, std::string* detail) {
  std::string tried;
  for (const std::string& dir : candidates) {
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    tried += (tried.empty() ? "" : ", ") + dir;
  }
  SetDetail(detail, "no lock directory: " + tried);
  return {};
}

}  // namespace internal

std::unique_ptr<InstanceLock> TryAcquireInstanceLock(const std::string& name, LockResult* result,
                                                     const std::string& lockDir, std::string* detail) {
  *result = LockResult::kFailed;
  SetDetail(detail, {});
  // Only directories where other users cannot plant the file: a lock file squatted in a
  // world-writable fallback such as /tmp would block every update.
  std::vector<std::string> candidates{"/run/lock", "/var/lock"};
  if (!lockDir.empty()) candidates = {lockDir};
  std::string dir = internal::ChooseLockDirectory(candidates, detail);
  if (dir.empty()) return nullptr;

  std::string fileName = name;
  for (char& c : fileName) {
    if (c == '/' || c == '\\') c = '_';
  }
  std::string path = JoinPath(dir, fileName + ".lock");
  int fd = OpenLockFile(path, detail);
  if (fd < 0) return nullptr;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      *result = LockResult::kHeldElsewhere;
    } else {
      SetDetail(detail, path + ": " + std::strerror(errno));
    }
    close(fd);
    return nullptr;
  }
  *result = LockResult::kAcquired;
  return std::make_unique<FlockHolder>(fd);
}

std::unique_ptr<FileLock> FileLock::Acquire(const std::string& path, uint32_t timeoutMs, Clock& clock) {
  int fd = OpenLockFile(path, nullptr);
  if (fd < 0) return nullptr;
  bool taken = internal::RetryLockUntil(clock, timeoutMs, [fd] {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return internal::LockAttempt::kTaken;
    bool busy = errno == EWOULDBLOCK || errno == EINTR;
    return busy ? internal::LockAttempt::kBusy : internal::LockAttempt::kFailed;
  });
  if (!taken) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<FlockHolder>(fd);
}

}  // namespace platform
