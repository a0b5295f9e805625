#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/testing/memory_console.h"
#include "status/instance_guard.h"
#include "status/result_files.h"
#include "tests/status/status_test_support.h"
#include "tests/support/temp_dir.h"

namespace status {
namespace {

using statustest::ScriptedClock;
using statustest::TreeOf;

const std::string kDecl = "?xml(version=1.0,encoding=UTF-8) ";

std::string InDir(const std::string& dir) {
  return dir + platform::PathSeparator();
}

TEST(Progress, PublishesTheRatioAsDecimalText) {
  testsupport::TempDir dir;
  platform::MemoryConsole console;
  ResultFiles files(console);
  files.placement.workFilePrefix = InDir(dir.path());
  for (int32_t ratio : {0, 100, -1}) {
    EXPECT_EQ(files.PublishProgress(ratio), XmlSaveResult::kSaved);
    EXPECT_EQ(TreeOf(dir.File("Get_ratio.xml_tmp")),
              kDecl + R"(Response{result_code{"OK"} data{")" + std::to_string(ratio) + "\"}}");
  }
}

// The working file lies beside the program, the answer in the package; the answer cannot be
// written until its directory appears.
struct RatioCase {
  const char* name;
  bool working;                  // an update publishes its ratio
  int answerPossibleAfterPause;  // -1: from the start, 0: never
  RatioQueryOutcome outcome;
  unsigned pauses;
  std::string answer;
};

TEST(RatioQuery, CopiesTheWorkingFileRetryingTwelveTimesHalfASecondApart) {
  const std::string copied = kDecl + R"(Response{result_code{"OK"} data{"40"}})";
  const RatioCase cases[] = {
      {"no update runs", false, -1, RatioQueryOutcome::kNoCommand, 0,
       kDecl + R"(Response{result_code{"No-Command"} data{}})"},
      {"copied at once", true, -1, RatioQueryOutcome::kCopied, 0, copied},
      {"third copy succeeds", true, 2, RatioQueryOutcome::kCopied, 2, copied},
      {"the twelfth copy is the last chance", true, 11, RatioQueryOutcome::kCopied, 11, copied},
      {"never", true, 0, RatioQueryOutcome::kTimedOut, 11, "unreadable: missing"},
  };
  for (const RatioCase& c : cases) {
    testsupport::TempDir dir;
    ASSERT_TRUE(platform::MakeDirectory(dir.File("prog")));
    if (c.answerPossibleAfterPause < 0) {
      ASSERT_TRUE(platform::MakeDirectory(dir.File("answer")));
      testsupport::WriteFile(dir.File("answer/Get_ratio.xml"), "stale answer");
    }
    platform::MemoryConsole console;
    ScriptedClock clock;
    clock.onSleep = [&](unsigned n) {
      if (static_cast<int>(n) == c.answerPossibleAfterPause) platform::MakeDirectory(dir.File("answer"));
    };
    ResultFiles files(console);
    files.placement.workFilePrefix = InDir(dir.File("prog"));
    files.placement.resultPrefix = InDir(dir.File("answer"));
    if (c.working) {
      ASSERT_EQ(files.PublishProgress(40), XmlSaveResult::kSaved);
    }
    XmlSaveResult saved = XmlSaveResult::kNotSaved;
    EXPECT_EQ(files.AnswerRatioQuery(clock, &saved), c.outcome) << c.name;
    EXPECT_EQ(saved, XmlSaveResult::kSaved) << c.name;
    EXPECT_EQ(clock.SleepCount(), c.pauses) << c.name;
    EXPECT_EQ(clock.TotalSleptMs(), c.pauses * 500u) << c.name;
    EXPECT_EQ(TreeOf(dir.File("answer/Get_ratio.xml")), c.answer) << c.name;
    if (c.outcome == RatioQueryOutcome::kCopied) {
      // A byte copy: the manager sees exactly what the update wrote.
      EXPECT_EQ(testsupport::ReadFileOrEmpty(dir.File("answer/Get_ratio.xml")),
                testsupport::ReadFileOrEmpty(dir.File("prog/Get_ratio.xml_tmp")));
    }
  }
}

TEST(RatioQuery, UnsavableNoCommandAnswerIsHandedBack) {
  testsupport::TempDir dir;
  platform::MemoryConsole console;
  platform::VirtualClock clock;
  ResultFiles files(console);
  files.placement.resultPrefix = InDir(dir.File("missing"));
  XmlSaveResult saved = XmlSaveResult::kSaved;
  EXPECT_EQ(files.AnswerRatioQuery(clock, &saved), RatioQueryOutcome::kNoCommand);
  EXPECT_EQ(saved, XmlSaveResult::kNotSaved);
}

TEST(InstanceGuard, SecondInstanceIsRefusedWhileTheFirstHoldsTheLock) {
  testsupport::TempDir dir;
  const std::string name = statustest::UniqueLockName("statustest.exe");
  {
    InstanceGuard query;
    EXPECT_TRUE(query.Acquire(name, dir.path(), false, nullptr));
    // The query only tested the lock: an update started meanwhile goes on.
    InstanceGuard update;
    EXPECT_TRUE(update.Acquire(name, dir.path(), true, nullptr));
    InstanceGuard secondQuery, secondUpdate;
    std::string detail;
    EXPECT_FALSE(secondQuery.Acquire(name, dir.path(), false, &detail));
    EXPECT_FALSE(secondUpdate.Acquire(name, dir.path(), true, &detail));
    EXPECT_EQ(detail, "");  // held elsewhere is no failure of the lock itself
  }
  InstanceGuard later;
  EXPECT_TRUE(later.Acquire(name, dir.path(), true, nullptr));
}

TEST(InstanceGuard, LockThatCannotBeCreatedCountsAsHeld) {
  if (platform::PathSeparator() != '/') GTEST_SKIP() << "named mutexes take no directory";
  testsupport::TempDir dir;
  const std::string name = statustest::UniqueLockName("statustest.exe");
  InstanceGuard guard;
  std::string detail;
  EXPECT_FALSE(guard.Acquire(name, dir.File("no-such-dir"), true, &detail));
  EXPECT_EQ(detail, "the lock " + name + " cannot be created: no lock directory: " + dir.File("no-such-dir"));
}

}  // namespace
}  // namespace status
