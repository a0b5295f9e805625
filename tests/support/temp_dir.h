#pragma once
#include <string>

namespace testsupport {

// A fresh directory for one test, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Makes a directory the current one for the lifetime of the object.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir);
  ~ScopedCurrentDir();

 private:
  std::string previous_;
};

std::string ReadFileOrEmpty(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace testsupport
