#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/files.h"

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
  // Everything a test writes is scratch: flushing each file to disk would only cost time.
  platform::SetFlushToDisk(false);
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = fs::temp_directory_path() / ("bmctest-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
  ADD_FAILURE() << "cannot create a temporary directory";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return platform::JoinPath(path_, name);
}

ScopedCurrentDir::ScopedCurrentDir(const std::string& dir) : previous_(platform::CurrentDirectory()) {
  EXPECT_TRUE(platform::ChangeDirectory(dir)) << dir;
}

ScopedCurrentDir::~ScopedCurrentDir() {
  platform::ChangeDirectory(previous_);
}

std::string ReadFileOrEmpty(const std::string& path) {
  std::string content;
  platform::ReadWholeFile(path, &content);
  return content;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

}  // namespace testsupport
