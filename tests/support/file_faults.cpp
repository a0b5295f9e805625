#include "tests/support/file_faults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/files.h"
#include "platform/files_internal.h"
#include "tests/support/log_lines.h"
#include "tests/support/permission_override.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace testsupport {

ScopedDiskSpace::ScopedDiskSpace(uint64_t bytesLeft) : left_(bytesLeft) {
  platform::internal::SetNewFileWriter([this](const std::string& path, std::string_view content) {
    if (content.size() <= left_) {
      left_ -= content.size();
      return platform::internal::WriteNewFile(path, content);
    }
    // As the platform's writer fails on a full disk: what fits is written, then the torn file
    // is taken away and ENOSPC reported.
    const int error = platform::internal::WriteNewFile(path, content.substr(0, left_));
    left_ = 0;
    if (error != 0) return error;
    platform::RemoveFile(path);
    return ENOSPC;
  });
}

ScopedDiskSpace::~ScopedDiskSpace() {
  platform::internal::SetNewFileWriter(nullptr);
}

ScopedTemporaryPlanter::ScopedTemporaryPlanter(std::string victim) : victim_(std::move(victim)) {
  platform::internal::SetNewFileWriter([this](const std::string& path, std::string_view content) {
    // Only a write's first name: one that is refused every time ends the write, as it should.
    if (plantNext_) {
      if (!MakeSymbolicLink(victim_, path)) {
        std::error_code ec;
        fs::copy_file(victim_, path, ec);
      }
      // Absolute: the run may have changed its current directory by the time anyone looks.
      planted_.push_back(fs::absolute(path).lexically_normal().string());
    }
    plantNext_ = !plantNext_;
    return platform::internal::WriteNewFile(path, content);
  });
}

ScopedTemporaryPlanter::~ScopedTemporaryPlanter() {
  platform::internal::SetNewFileWriter(nullptr);
}

bool ScopedTemporaryPlanter::PlantedBeside(const std::string& path) const {
  const std::string beside = fs::absolute(path).lexically_normal().string() + ".";
  for (const std::string& name : planted_) {
    if (name.rfind(beside, 0) == 0) return true;
  }
  return false;
}

bool MakeSymbolicLink(const std::string& target, const std::string& link) {
  std::error_code ec;
  fs::create_symlink(target, link, ec);
  return !ec;
}

bool IsSymbolicLink(const std::string& path) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(path, ec));
}

ScopedReadOnlyDirectory::ScopedReadOnlyDirectory(std::string dir) : dir_(std::move(dir)) {
  std::error_code ec;
  fs::permissions(dir_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove, ec);
  overrideDropped_ = DropPermissionOverride();
  // Whatever the system: the directory counts as read-only only if it keeps a new file out.
  const std::string probe = platform::JoinPath(dir_, "probe");
  std::ofstream(probe, std::ios::binary) << "x";
  effective_ = !platform::FileReadable(probe);
  if (!effective_) platform::RemoveFile(probe);
}

ScopedReadOnlyDirectory::~ScopedReadOnlyDirectory() {
  if (overrideDropped_) RestorePermissionOverride();
  std::error_code ec;
  fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add, ec);
}

std::vector<std::string> LeftoversBeside(const std::string& dir, const std::string& name) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string n = entry.path().filename().string();
    if (n.rfind(name + ".", 0) == 0) names.push_back(n);
  }
  return names;
}

namespace {

bool LogHasLine(const std::string& log, const std::string& start) {
  for (const std::string& line : ReadLogTexts(log)) {
    if (line.rfind(start, 0) == 0) return true;
  }
  return false;
}

constexpr const char* kOld = "the old file, which must survive";

}  // namespace

std::string RunWithFault(FileFault fault, const FileUnderTest& file, const std::function<int()>& run) {
  const std::string dir = platform::DirectoryOf(file.path);
  const std::string name = fs::path(file.path).filename().string();
  const std::string victim = platform::JoinPath(dir, "victim");
  const std::string keep = platform::JoinPath(file.path, "keep");
  std::error_code ec;
  fs::remove(file.path, ec);
  WriteFile(victim, "precious");
  std::vector<std::string> planted;
  bool refused = true;
  switch (fault) {
    case FileFault::kDiskFull: {
      WriteFile(file.path, kOld);
      // Room for a part of any file; none fits whole.
      ScopedDiskSpace full(16);
      EXPECT_EQ(run(), 0);
      break;
    }
    case FileFault::kDirectory:
      fs::create_directory(file.path);
      WriteFile(keep, "kept");
      EXPECT_EQ(run(), 0);
      break;
    case FileFault::kReadOnlyDirectory: {
      WriteFile(file.path, kOld);
      ScopedReadOnlyDirectory readOnly(dir);
      if (!readOnly.effective()) return "a read-only directory keeps no new file out here";
      EXPECT_EQ(run(), 0);
      break;
    }
    case FileFault::kLinkAtName:
      if (!MakeSymbolicLink(victim, file.path)) return "no symbolic links here";
      refused = false;
      EXPECT_EQ(run(), 0);
      break;
    case FileFault::kLinkAtTemporary: {
      refused = false;
      ScopedTemporaryPlanter planter(victim);
      EXPECT_EQ(run(), 0);
      EXPECT_TRUE(planter.PlantedBeside(file.path)) << "not written through the atomic writer";
      planted = planter.planted();
      break;
    }
  }
  EXPECT_EQ(ReadFileOrEmpty(victim), "precious");
  for (const std::string& p : planted) EXPECT_EQ(ReadFileOrEmpty(p), "precious") << p;
  if (refused) {
    if (fault != FileFault::kReadOnlyDirectory || platform::DirectoryOf(file.log) != dir) {
      EXPECT_TRUE(LogHasLine(file.log, file.refusal)) << file.refusal;
    }
    if (!file.claim.empty()) {
      EXPECT_FALSE(LogHasLine(file.log, file.claim));
    }
    if (fault == FileFault::kDirectory) {
      EXPECT_EQ(ReadFileOrEmpty(keep), "kept");
    } else if (!file.removedAtEnd || platform::FileReadable(file.path)) {
      EXPECT_EQ(ReadFileOrEmpty(file.path), kOld);
    }
    EXPECT_TRUE(LeftoversBeside(dir, name).empty());
  } else {
    EXPECT_FALSE(LogHasLine(file.log, file.refusal));
    if (!file.claim.empty()) {
      EXPECT_TRUE(LogHasLine(file.log, file.claim));
    }
    EXPECT_FALSE(IsSymbolicLink(file.path));
    EXPECT_TRUE(file.written(file.path)) << ReadFileOrEmpty(file.path);
  }
  return {};
}

}  // namespace testsupport
