#include <windows.h>
#include <direct.h>

#include "platform/files.h"

namespace platform {

bool RenameOver(const std::string& from, const std::string& to) {
  // A reader that has the target open (a ratio query copying it) blocks the replacement for
  // a moment; try again briefly before giving up.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    DWORD err = GetLastError();
    if (err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION) return false;
    Sleep(20);
  }
  return false;
}

bool MakeDirectory(const std::string& path) {
  DWORD attrs = GetFileAttributesA(path.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES) return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

std::string CurrentDirectory() {
  char buf[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
  if (n == 0 || n > MAX_PATH) return {};
  return std::string(buf, n);
}

bool ChangeDirectory(const std::string& path) {
  return SetCurrentDirectoryA(path.c_str()) != 0;
}

char PathSeparator() {
  return '\\';
}
const char* ParentPrefix() {
  return "..\\";
}
const char* NullDevice() {
  return "nul";
}

}  // namespace platform
