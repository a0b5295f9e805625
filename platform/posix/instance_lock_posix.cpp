#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/instance_lock.h"

namespace platform {
namespace {

class FlockHolder : public InstanceLock, public FileLock {
 public:
  explicit FlockHolder(int fd) : fd_(fd) {}
  ~FlockHolder() override { close(fd_); }  // closing releases the flock

 private:
  int fd_;
};

// Opens (creating if needed) a lock file without following symlinks and without truncating
// a file that may belong to someone else; -1 when that is not possible.
int OpenLockFile(const std::string& path) {
  int flags = O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int fd = open(path.c_str(), O_RDWR | flags, 0644);
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string SystemLockDirectory() {
  for (const char* dir : {"/run/lock", "/var/lock", "/tmp"}) {
    if (access(dir, W_OK | X_OK) == 0) return dir;
  }
  return "/tmp";
}

}  // namespace

std::unique_ptr<InstanceLock> TryAcquireInstanceLock(const std::string& name, LockResult* result,
                                                     const std::string& lockDir) {
  std::string fileName = name;
  for (char& c : fileName) {
    if (c == '/' || c == '\\') c = '_';
  }
  std::string path = JoinPath(lockDir.empty() ? SystemLockDirectory() : lockDir, fileName + ".lock");
  int fd = OpenLockFile(path);
  if (fd < 0) {
    *result = LockResult::kFailed;
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *result = errno == EWOULDBLOCK ? LockResult::kHeldElsewhere : LockResult::kFailed;
    close(fd);
    return nullptr;
  }
  *result = LockResult::kAcquired;
  return std::make_unique<FlockHolder>(fd);
}

std::unique_ptr<FileLock> FileLock::Acquire(const std::string& path) {
  int fd = OpenLockFile(path);
  if (fd < 0) return nullptr;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return nullptr;
    }
  }
  return std::make_unique<FlockHolder>(fd);
}

}  // namespace platform
