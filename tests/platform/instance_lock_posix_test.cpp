#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/instance_lock.h"
#include "platform/posix/lock_directory.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

TEST(InstanceLockPosix, RefusesALockFileThatIsASymlink) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("victim"), "precious");
  ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("evil.exe.lock").c_str()), 0);
  LockResult result;
  std::string detail;
  EXPECT_EQ(TryAcquireInstanceLock("evil.exe", &result, dir.path(), &detail), nullptr);
  EXPECT_EQ(result, LockResult::kFailed);
  EXPECT_EQ(testsupport::ReadFileOrEmpty(dir.File("victim")), "precious");
  EXPECT_EQ(detail.rfind(dir.File("evil.exe.lock") + ": ", 0), 0u) << detail;

  ASSERT_EQ(mkfifo(dir.File("pipe.exe.lock").c_str(), 0644), 0);
  EXPECT_EQ(TryAcquireInstanceLock("pipe.exe", &result, dir.path(), &detail), nullptr);
  EXPECT_EQ(result, LockResult::kFailed);
  EXPECT_EQ(detail, dir.File("pipe.exe.lock") + ": not a regular file");
}

TEST(InstanceLockPosix, TakesTheFirstExistingLockDirectoryAndRefusesWhenThereIsNone) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("file"), "");
  ASSERT_EQ(mkdir(dir.File("first").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("second").c_str(), 0755), 0);
  const std::string missing = dir.File("missing");
  std::string detail;
  EXPECT_EQ(internal::ChooseLockDirectory({missing, dir.File("file"), dir.File("first"), dir.File("second")},
                                          &detail),
            dir.File("first"));
  EXPECT_EQ(internal::ChooseLockDirectory({missing, dir.File("file")}, &detail), "");
  EXPECT_EQ(detail, "no lock directory: " + missing + ", " + dir.File("file"));

  // The refusal reaches the caller with its reason.
  LockResult result = LockResult::kAcquired;
  EXPECT_EQ(TryAcquireInstanceLock("tool.exe", &result, missing, &detail), nullptr);
  EXPECT_EQ(result, LockResult::kFailed);
  EXPECT_EQ(detail, "no lock directory: " + missing);
}

TEST(InstanceLockPosix, NeverTruncatesAnExistingLockFile) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("tool.exe.lock"), "someone's content");
  LockResult result;
  std::string detail = "stale";
  auto lock = TryAcquireInstanceLock("tool.exe", &result, dir.path(), &detail);
  EXPECT_EQ(result, LockResult::kAcquired);
  EXPECT_EQ(detail, "");
  EXPECT_EQ(testsupport::ReadFileOrEmpty(dir.File("tool.exe.lock")), "someone's content");
}

}  // namespace
}  // namespace platform
