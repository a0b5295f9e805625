#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/testing/virtual_clock.h"
#include "sdrtool/result_directory.h"
#include "sdrtool/result_hold.h"
#include "sdrtool/version_log.h"
#include "tests/support/temp_dir.h"

// The SDR tool's rules for the files around it: where its result files go, when a managed
// update's final one may appear, when its version log is set aside.
namespace veltrop {
namespace {

std::string Parents(int levels) {
  std::string prefix;
  for (int i = 0; i < levels; ++i) prefix += platform::ParentPrefix();
  return prefix;
}

TEST(LocateResultDir, FindsTheNearestDirectoryAboveThatHoldsTheDescriptor) {
  const struct {
    std::vector<const char*> descriptorsIn;  // relative to the package root
    std::string expected;
  } cases[] = {
      {{"pkg/sdr/work"}, ""},           {{"pkg/sdr"}, Parents(1)},     {{"pkg"}, Parents(2)},
      {{"pkg", "pkg/sdr"}, Parents(1)}, {{"pkg/sdr/work/deeper"}, ""}, {{}, ""},
  };
  for (const auto& c : cases) {
    testsupport::TempDir dir;
    std::string work = dir.File("pkg");
    ASSERT_TRUE(platform::MakeDirectory(work));
    for (const char* sub : {"sdr", "work", "deeper"}) {
      work = platform::JoinPath(work, sub);
      ASSERT_TRUE(platform::MakeDirectory(work));
    }
    for (const char* where : c.descriptorsIn) {
      testsupport::WriteFile(dir.File(std::string(where) + "/ExUpInfo.xml"), "<ExUpInfo/>");
    }
    testsupport::ScopedCurrentDir cwd(dir.File("pkg/sdr/work"));
    EXPECT_EQ(LocateResultDir(), c.expected) << (c.descriptorsIn.empty() ? "none" : c.descriptorsIn.back());
  }
}

TEST(UpdateResultDelay, HoldsBackUntilThirtySecondsAfterStart) {
  const struct {
    int64_t elapsedSeconds;
    uint64_t sleptMs;
  } cases[] = {
      {5, 25000},     // failure 5 s after the first OK file
      {0, 30000},     //
      {29, 1000},     //
      {30, 0},        // no pause once the gap is there
      {45, 0},        //
      {-100, 30000},  // clock set back: capped, not 130 s
  };
  for (const auto& c : cases) {
    platform::VirtualClock clock;
    int64_t start = clock.WallSeconds();
    clock.SetWallSeconds(start + c.elapsedSeconds);
    HoldBackUpdateResult(clock, start);
    EXPECT_EQ(clock.TotalSleptMs(), c.sleptMs) << c.elapsedSeconds;
    EXPECT_LE(clock.SleepCount(), 1u);
  }
}

TEST(RotateLogBySize, OnlyAFileAboveTheLimitReplacesTheOldOne) {
  const struct {
    const char* name;
    int64_t size;  // -1: no log
    bool rotated;
  } cases[] = {
      {"exactly the limit", 100, false},
      {"one byte more", 101, true},
      {"empty", 0, false},
      {"no log", -1, false},
  };
  for (const auto& c : cases) {
    testsupport::TempDir dir;
    const std::string path = dir.File("ver.log"), old = dir.File("ver_old.log");
    const std::string content(c.size < 0 ? 0 : static_cast<size_t>(c.size), 'x');
    if (c.size >= 0) testsupport::WriteFile(path, content);
    testsupport::WriteFile(old, "previous");
    RotateLogBySize(path, 100, old);
    EXPECT_EQ(platform::FileReadable(path), c.size >= 0 && !c.rotated) << c.name;
    EXPECT_EQ(testsupport::ReadFileOrEmpty(old), c.rotated ? content : "previous") << c.name;
  }
}

}  // namespace
}  // namespace veltrop
