#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <climits>

#include "platform/files.h"

namespace platform {

bool RenameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
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
