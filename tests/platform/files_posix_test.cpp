#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/files_internal.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testsupport::ReadFileOrEmpty;
using testsupport::TempDir;

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool IsLink(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Lowers the file size limit so that a write fails half-way, as on a full disk.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  sighandler_t oldHandler_;
};

TEST(FilesPosix, LinksPlantedAtTemporaryNamesCannotRedirectAnAtomicWrite) {
  TempDir dir;
  const std::string target = dir.File("result.xml");
  const std::string victim = dir.File("victim");
  testsupport::WriteFile(victim, "precious");
  testsupport::WriteFile(target, "old");
  // Names a predictable writer would pick: process id and a counter, or a fixed suffix.
  std::vector<std::string> planted;
  const std::string pid = std::to_string(CurrentProcessId());
  for (int n = 0; n <= 256; ++n) planted.push_back(target + ".~" + pid + "." + std::to_string(n));
  for (const char* suffix : {".tmp", "~", ".new"}) planted.push_back(target + suffix);
  planted.push_back(target + ".~" + pid + ".tmp");
  for (const std::string& name : planted) ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0) << name;

  // Under umask 0 as well, the result must not become writable by others.
  mode_t oldMask = umask(0);
  int error = -1;
  bool written = WriteFileAtomically(target, "new", &error);
  umask(oldMask);
  ASSERT_TRUE(written);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(ReadFileOrEmpty(victim), "precious");
  struct stat st {};
  ASSERT_EQ(lstat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(ReadFileOrEmpty(target), "new");

  // Even a link at the very name chosen is refused, a dangling one too (following it would
  // create the file it points at); the write moves on to another name.
  const std::string dangling = dir.File("dangling");
  ASSERT_EQ(symlink(dir.File("created-through-link").c_str(), dangling.c_str()), 0);
  std::vector<std::string> names = {dangling, planted.front(), dir.File("fresh")};
  size_t next = 0;
  ASSERT_TRUE(internal::WriteFileAtomicallyVia(target, "newer", &error, [&](std::string* temporary) {
    *temporary = names[std::min(next++, names.size() - 1)];
    return 0;
  }));
  EXPECT_EQ(ReadFileOrEmpty(target), "newer");
  EXPECT_FALSE(FileReadable(dir.File("created-through-link")));
  EXPECT_EQ(ReadFileOrEmpty(victim), "precious");
  for (const std::string& name : planted) EXPECT_TRUE(IsLink(name)) << name;
  EXPECT_TRUE(IsLink(dangling));
  EXPECT_EQ(Names(dir.path()).size(), planted.size() + 3);
}

TEST(FilesPosix, FailedAtomicWriteKeepsTheOldFileReportsErrnoAndLeavesNoTemporary) {
  TempDir dir;
  const std::string target = dir.File("backup.bin");
  testsupport::WriteFile(target, "old image");
  int error = 0;
  {
    ScopedFileSizeLimit limit(4096);
    EXPECT_FALSE(WriteFileAtomically(target, std::string(65536, 'x'), &error));
  }
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(ReadFileOrEmpty(target), "old image");

  // The rename step fails too: a directory holds the name.
  ASSERT_TRUE(MakeDirectory(dir.File("sub")));
  EXPECT_FALSE(WriteFileAtomically(dir.File("sub"), "x", &error));
  EXPECT_EQ(error, EISDIR);

  EXPECT_FALSE(CopyFileAtomically(target, JoinPath(dir.File("missing"), "copy"), &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"backup.bin", "sub"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("sub")));
}

}  // namespace
}  // namespace platform
