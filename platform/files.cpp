#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/files_internal.h"

namespace platform {
namespace {

bool flushToDisk = true;
internal::NewFileWriter newFileWriter;

}  // namespace

void SetFlushToDisk(bool flush) {
  flushToDisk = flush;
}

bool FlushToDisk() {
  return flushToDisk;
}

bool FileReadable(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

int64_t FileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  int64_t size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = static_cast<int64_t>(std::ftell(f));
  std::fclose(f);
  return size;
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  content->clear();
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content->append(buf, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

namespace {

// A clash with a random 64-bit name means someone plants names (or the generator is broken):
// try a few fresh names, never endlessly.
constexpr int kTemporaryNameAttempts = 8;

int RandomTemporaryBeside(const std::string& path, std::string* temporary) {
  unsigned char bytes[8];
  if (int error = internal::RandomBytes(bytes, sizeof bytes)) return error;
  static const char kHex[] = "0123456789abcdef";
  *temporary = path + ".~";
  for (unsigned char b : bytes) {
    *temporary += kHex[b >> 4];
    *temporary += kHex[b & 0x0F];
  }
  return 0;
}

}  // namespace

namespace internal {

void SetNewFileWriter(NewFileWriter writer) {
  newFileWriter = std::move(writer);
}

bool WriteFileAtomicallyVia(const std::string& path, std::string_view content, int* error,
                            const std::function<int(std::string* temporary)>& nextTemporary) {
  int failure = 0;
  for (int attempt = 1;; ++attempt) {
    std::string temporary;
    failure = nextTemporary(&temporary);
    if (failure == 0)
      failure = newFileWriter ? newFileWriter(temporary, content) : WriteNewFile(temporary, content);
    if (failure == EEXIST && attempt < kTemporaryNameAttempts) continue;
    if (failure == 0 && !RenameOver(temporary, path, &failure)) RemoveFile(temporary);
    break;
  }
  if (error) *error = failure;
  return failure == 0;
}

}  // namespace internal

bool WriteFileAtomically(const std::string& path, std::string_view content, int* error) {
  return internal::WriteFileAtomicallyVia(path, content, error, [&path](std::string* temporary) {
    return RandomTemporaryBeside(path, temporary);
  });
}

bool CopyFileAtomically(const std::string& from, const std::string& to, int* error) {
  std::string content;
  errno = 0;
  if (!ReadWholeFile(from, &content)) {
    if (error) *error = errno != 0 ? errno : EIO;
    return false;
  }
  return WriteFileAtomically(to, content, error);
}

bool RemoveFile(const std::string& path) {
  return std::remove(path.c_str()) == 0;
}

std::string DirectoryOf(const std::string& path) {
  size_t pos = path.find_last_of(PathSeparator() == '\\' ? "\\/:" : "/");
  if (pos == std::string::npos) return {};
  if (pos == 0) return path.substr(0, 1);
  return path.substr(0, pos);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  char last = dir.back();
  if (last == '/' || last == PathSeparator()) return dir + name;
  return dir + PathSeparator() + name;
}

}  // namespace platform
