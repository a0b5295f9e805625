#include "platform/files.h"

#include <cstdio>

#include "platform/process.h"

namespace platform {

bool FileExists(const std::string& path) {
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

bool WriteFileAtomically(const std::string& path, std::string_view content) {
  static unsigned counter = 0;
  std::string tmp = path + ".~" + std::to_string(CurrentProcessId()) + "." + std::to_string(++counter);
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  ok = (std::fflush(f) == 0) && ok;
  ok = (std::fclose(f) == 0) && ok;
  if (ok) ok = RenameOver(tmp, path);
  if (!ok) RemoveFile(tmp);
  return ok;
}

bool CopyFileAtomically(const std::string& from, const std::string& to) {
  std::string content;
  if (!ReadWholeFile(from, &content)) return false;
  return WriteFileAtomically(to, content);
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
