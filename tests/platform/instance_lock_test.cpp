#include "platform/instance_lock.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/testing/virtual_clock.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

std::string UniqueName(const char* base) {
  return std::string(base) + "-" + std::to_string(CurrentProcessId());
}

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstReleases) {
  testsupport::TempDir dir;
  std::string name = UniqueName("locktest.exe");
  LockResult first, second, third;
  auto held = TryAcquireInstanceLock(name, &first, dir.path());
  ASSERT_EQ(first, LockResult::kAcquired);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(TryAcquireInstanceLock(name, &second, dir.path()), nullptr);
  EXPECT_EQ(second, LockResult::kHeldElsewhere);
  held.reset();
  auto again = TryAcquireInstanceLock(name, &third, dir.path());
  EXPECT_EQ(third, LockResult::kAcquired);
}

TEST(InstanceLock, NamesAreIndependentAndMayCarryANamespacePrefix) {
  testsupport::TempDir dir;
  LockResult a, b;
  auto one = TryAcquireInstanceLock(UniqueName("Global\\one.exe"), &a, dir.path());
  auto two = TryAcquireInstanceLock(UniqueName("two.exe"), &b, dir.path());
  EXPECT_EQ(a, LockResult::kAcquired);
  EXPECT_EQ(b, LockResult::kAcquired);
}

TEST(FileLock, IsReacquirableAfterRelease) {
  testsupport::TempDir dir;
  auto lock = FileLock::Acquire(dir.File("state.lock"));
  ASSERT_NE(lock, nullptr);
  lock.reset();
  EXPECT_NE(FileLock::Acquire(dir.File("state.lock")), nullptr);
}

TEST(FileLock, WaitsForTheHolderButGivesUpAfterItsTimeout) {
  testsupport::TempDir dir;
  const std::string path = dir.File("state.lock");
  auto held = FileLock::Acquire(path);
  ASSERT_NE(held, nullptr);
  // A second open of the file conflicts with the first, in this process too (flock, LockFileEx).
  VirtualClock clock;
  EXPECT_EQ(FileLock::Acquire(path, 5000, clock), nullptr);
  EXPECT_EQ(clock.MonotonicMs(), 5000u);
  // Polls with real pauses rather than spinning.
  EXPECT_GT(clock.SleepCount(), 1u);
  EXPECT_LT(clock.SleepCount(), 1000u);

  std::thread releaser([&held] {
    SystemClock().SleepMs(100);
    held.reset();
  });
  auto waited = FileLock::Acquire(path, 20000);
  releaser.join();
  EXPECT_NE(waited, nullptr);
}

}  // namespace
}  // namespace platform
