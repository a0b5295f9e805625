#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/instance_lock.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

TEST(InstanceLockPosix, RefusesALockFileThatIsASymlink) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("victim"), "precious");
  ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("evil.exe.lock").c_str()), 0);
  LockResult result;
  EXPECT_EQ(TryAcquireInstanceLock("evil.exe", &result, dir.path()), nullptr);
  EXPECT_EQ(result, LockResult::kFailed);
  EXPECT_EQ(testsupport::ReadFileOrEmpty(dir.File("victim")), "precious");
}

TEST(InstanceLockPosix, NeverTruncatesAnExistingLockFile) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("tool.exe.lock"), "someone's content");
  LockResult result;
  auto lock = TryAcquireInstanceLock("tool.exe", &result, dir.path());
  EXPECT_EQ(result, LockResult::kAcquired);
  EXPECT_EQ(testsupport::ReadFileOrEmpty(dir.File("tool.exe.lock")), "someone's content");
}

}  // namespace
}  // namespace platform
