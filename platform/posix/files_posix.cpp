#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <climits>

#include "platform/files.h"
#include "platform/files_internal.h"

namespace platform {
namespace {

int WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    ssize_t n = write(fd, content.data(), std::min<size_t>(content.size(), 1u << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    content.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

}  // namespace

namespace internal {

int RandomBytes(unsigned char* out, size_t count) {
  while (count > 0) {
    ssize_t n = getrandom(out, count, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    out += n;
    count -= static_cast<size_t>(n);
  }
  return 0;
}

int WriteNewFile(const std::string& path, std::string_view content) {
  // O_EXCL alone refuses any existing name, dangling links included; O_NOFOLLOW is a second guard.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int error = WriteAll(fd, content);
  // Without this a crash soon after the rename can leave an empty file under the old name.
  while (error == 0 && FlushToDisk() && fsync(fd) != 0) {
    if (errno != EINTR) error = errno;
  }
  // Linux closes the descriptor even when close reports EINTR.
  if (close(fd) != 0 && errno != EINTR && error == 0) error = errno;
  if (error != 0) unlink(path.c_str());
  return error;
}

}  // namespace internal

bool RenameOver(const std::string& from, const std::string& to, int* error) {
  bool ok = rename(from.c_str(), to.c_str()) == 0;
  if (error) *error = ok ? 0 : errno;
  return ok;
}

bool MakeDirectory(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return mkdir(path.c_str(), 0777) == 0;
}

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return {};
  return buf;
}

bool ChangeDirectory(const std::string& path) {
  return chdir(path.c_str()) == 0;
}

char PathSeparator() {
  return '/';
}
const char* ParentPrefix() {
  return "../";
}
const char* NullDevice() {
  return "/dev/null";
}

}  // namespace platform
