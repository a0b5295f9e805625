#include <windows.h>
#include <bcrypt.h>
#include <direct.h>

#include <algorithm>
#include <cerrno>

#include "platform/files.h"
#include "platform/files_internal.h"

namespace platform {
namespace {

// Callers compare and print errno numbers on both platforms.
int ErrnoFromWindowsError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    default:
      return EIO;
  }
}

int LastErrno() {
  return ErrnoFromWindowsError(GetLastError());
}

int WriteAll(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, content.data(), chunk, &written, nullptr)) return LastErrno();
    if (written == 0) return EIO;
    content.remove_prefix(written);
  }
  return 0;
}

}  // namespace

namespace internal {

int RandomBytes(unsigned char* out, size_t count) {
  NTSTATUS status = BCryptGenRandom(nullptr, out, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  return BCRYPT_SUCCESS(status) ? 0 : EIO;
}

int WriteNewFile(const std::string& path, std::string_view content) {
  // CREATE_NEW refuses any existing name, links and junctions included.
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrno();
  int error = WriteAll(file, content);
  // Without this a crash soon after the rename can leave an empty file under the old name.
  if (error == 0 && FlushToDisk() && !FlushFileBuffers(file)) error = LastErrno();
  if (!CloseHandle(file) && error == 0) error = LastErrno();
  if (error != 0) DeleteFileA(path.c_str());
  return error;
}

}  // namespace internal

bool RenameOver(const std::string& from, const std::string& to, int* error) {
  // A reader that has the target open (a ratio query copying it) blocks the replacement for
  // a moment; try again briefly before giving up.
  DWORD lastError = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      lastError = ERROR_SUCCESS;
      break;
    }
    lastError = GetLastError();
    if (lastError != ERROR_ACCESS_DENIED && lastError != ERROR_SHARING_VIOLATION) break;
    // A directory or a read-only file at the name stays what it is: waiting only stalls every
    // write (a second per progress step).
    const DWORD attrs = GetFileAttributesA(to.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
      break;
    Sleep(20);
  }
  if (error) *error = ErrnoFromWindowsError(lastError);
  return lastError == ERROR_SUCCESS;
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
