#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/lock_wait.h"
#include "platform/posix/lock_directory.h"

namespace platform {
namespace {

// Only root may create files in the programs' own directory below /run, so no other user can
// plant a lock file there first and keep every update out (as anyone can in /run/lock).
constexpr char kSystemLockParent[] = "/run";
constexpr char kSystemLockDirName[] = "bmc-online-update";

class FlockHolder : public InstanceLock, public FileLock {
 public:
  explicit FlockHolder(int fd) : fd_(fd) {}
  ~FlockHolder() override { close(fd_); }  // closing releases the flock

 private:
  int fd_;
};

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void SetDetail(std::string* detail, const std::string& text) {
  if (detail) *detail = text;
}

// Who may open a lock file: in a directory handed in, every user of the machine (processes of
// different users must agree on the one file); in the system directory, its owner (root) alone,
// since whoever can open the file can hold the lock.
enum class LockFileUsers { kAnyone, kOwnerOnly };

// Opens (creating if needed) the lock file name in dirFd (AT_FDCWD: name is a path) without
// following symlinks and without truncating a file that may belong to someone else; -1
// (reason in *detail, naming path) when that is not possible.
int OpenLockFile(int dirFd, const std::string& name, const std::string& path, LockFileUsers users,
                 std::string* detail) {
  const int flags = O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  const mode_t mode = users == LockFileUsers::kOwnerOnly ? 0600 : 0644;
  int fd = openat(dirFd, name.c_str(), O_RDWR | flags, mode);
  if (fd < 0 && errno == EACCES && users == LockFileUsers::kAnyone) {
    fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) {
    const bool needsRoot = errno == EACCES && users == LockFileUsers::kOwnerOnly;
    SetDetail(detail, path + ": " + std::strerror(errno) + (needsRoot ? " (the lock needs root)" : ""));
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

std::unique_ptr<InstanceLock> LockFileIn(int dirFd, const std::string& dir, const std::string& name,
                                         LockFileUsers users, LockResult* result, std::string* detail) {
  std::string fileName = name;
  for (char& c : fileName) {
    if (c == '/' || c == '\\') c = '_';
  }
  fileName += ".lock";
  const std::string path = JoinPath(dir, fileName);
  int fd = OpenLockFile(dirFd, dirFd == AT_FDCWD ? path : fileName, path, users, detail);
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

std::string OwnerName(uid_t uid) {
  return uid == 0 ? "root" : "uid " + std::to_string(uid);
}

// The programs' lock directory below parent, opened without following a link, created 0755
// when missing (parent never); -1, with the reason naming the directory in *detail, when it
// cannot be created or is a link, not a directory, not owner's or writable by group or others.
int OpenSystemLockDirectory(const std::string& parent, uid_t owner, std::string* detail) {
  const std::string dir = JoinPath(parent, kSystemLockDirName);
  // The parent is the system's; a machine without it gets no lock rather than one elsewhere.
  ScopedFd parentFd(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parentFd.get() < 0) {
    SetDetail(detail, dir + " cannot be created: " + parent + ": " + std::strerror(errno));
    return -1;
  }
  const bool created = mkdirat(parentFd.get(), kSystemLockDirName, 0755) == 0;
  if (!created && errno != EEXIST) {
    const bool needsRoot = errno == EACCES || errno == EPERM;
    SetDetail(detail,
              dir + " cannot be created" + (needsRoot ? ", it needs root: " : ": ") + std::strerror(errno));
    return -1;
  }
  int fd = openat(parentFd.get(), kSystemLockDirName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    std::string why = std::strerror(errno);
    struct stat st {};
    if (fstatat(parentFd.get(), kSystemLockDirName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(st.st_mode)) {
        why = "it is a symbolic link";
      } else if (!S_ISDIR(st.st_mode)) {
        why = "it is not a directory";
      }
    }
    SetDetail(detail, dir + " is refused: " + why);
    return -1;
  }
  struct stat st {};
  std::string why;
  // The umask must not decide who may look into it.
  if ((created && fchmod(fd, 0755) != 0) || fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if (st.st_uid != owner) {
    why = "it is owned by " + OwnerName(st.st_uid) + ", not " + OwnerName(owner);
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    why = std::string("group or others may write to it (mode ") + mode + ")";
  }
  if (!why.empty()) {
    SetDetail(detail, dir + " is refused: " + why);
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

std::unique_ptr<InstanceLock> TryAcquireSystemInstanceLock(const std::string& name, const std::string& parent,
                                                           uid_t owner, LockResult* result,
                                                           std::string* detail) {
  *result = LockResult::kFailed;
  SetDetail(detail, {});
  ScopedFd dirFd(OpenSystemLockDirectory(parent, owner, detail));
  if (dirFd.get() < 0) return nullptr;
  return LockFileIn(dirFd.get(), JoinPath(parent, kSystemLockDirName), name, LockFileUsers::kOwnerOnly,
                    result, detail);
}

}  // namespace internal

std::unique_ptr<InstanceLock> TryAcquireInstanceLock(const std::string& name, LockResult* result,
                                                     const std::string& lockDir, std::string* detail) {
  if (lockDir.empty())
    return internal::TryAcquireSystemInstanceLock(name, kSystemLockParent, 0, result, detail);
  *result = LockResult::kFailed;
  SetDetail(detail, {});
  std::string dir = internal::ChooseLockDirectory({lockDir}, detail);
  if (dir.empty()) return nullptr;
  return LockFileIn(AT_FDCWD, dir, name, LockFileUsers::kAnyone, result, detail);
}

std::unique_ptr<FileLock> FileLock::Acquire(const std::string& path, uint32_t timeoutMs, Clock& clock) {
  int fd = OpenLockFile(AT_FDCWD, path, path, LockFileUsers::kAnyone, nullptr);
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
