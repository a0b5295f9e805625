#include <gtest/gtest.h>

#include "platform/files.h"
#include "status/status_files.h"
#include "tests/status/status_test_support.h"
#include "tests/support/temp_dir.h"

namespace status {
namespace {

using statustest::RecordingHooks;
using statustest::TreeOf;

const std::string kDecl = "?xml(version=1.0,encoding=UTF-8) ";

TEST(Progress, PublishesTheRatioAsDecimalText) {
  testsupport::TempDir dir;
  RecordingHooks rec(dir.path());
  StatusFiles files(rec.Make());
  EXPECT_EQ(files.ProgressRatio, 0);
  files.PublishProgress();
  EXPECT_EQ(TreeOf(dir.File("Get_ratio.xml_tmp")), kDecl + R"(Response{result_code{"OK"} data{"0"}})");
  files.ProgressRatio = 100;
  files.PublishProgress();
  EXPECT_EQ(TreeOf(dir.File("Get_ratio.xml_tmp")), kDecl + R"(Response{result_code{"OK"} data{"100"}})");
}

TEST(RatioQuery, AnswersNoCommandWhenNoUpdateRuns) {
  testsupport::TempDir dir;
  RecordingHooks rec(dir.path());
  StatusFiles files(rec.Make());
  files.RatioQuery();
  EXPECT_EQ(TreeOf(dir.File("Get_ratio.xml")), kDecl + R"(Response{result_code{"No-Command"} data{}})");
  EXPECT_EQ(rec.clock.SleepCount(), 0u);
  EXPECT_TRUE(rec.reports.empty());
}

TEST(RatioQuery, AnswerIsAByteCopyOfTheWorkingFile) {
  testsupport::TempDir dir;
  RecordingHooks rec(dir.path());
  StatusFiles files(rec.Make());
  testsupport::WriteFile(dir.File("Get_ratio.xml"), "stale answer");
  files.ProgressRatio = 35;
  files.PublishProgress();
  files.RatioQuery();
  std::string work = testsupport::ReadFileOrEmpty(dir.File("Get_ratio.xml_tmp"));
  ASSERT_FALSE(work.empty());
  EXPECT_EQ(testsupport::ReadFileOrEmpty(dir.File("Get_ratio.xml")), work);
  EXPECT_EQ(rec.clock.SleepCount(), 0u);
  EXPECT_TRUE(rec.reports.empty());
}

// The working file lies elsewhere (beside the program) and the answer cannot be written.
struct CopyFailureCase {
  const char* timeoutCode;
  unsigned answerPossibleAfterPause;  // 0: never
  unsigned pauses;
  bool reported;
};

TEST(RatioQuery, RetriesTwelveCopiesHalfASecondApartThenReportsTheTimeOut) {
  const CopyFailureCase cases[] = {
      {"SDRC08", 0, 11, true},
      {"C19", 0, 11, true},
      {"C19", 2, 2, false},       // third copy succeeds
      {"SDRC08", 11, 11, false},  // the twelfth copy is the last chance
  };
  for (const CopyFailureCase& c : cases) {
    testsupport::TempDir dir;
    ASSERT_TRUE(platform::MakeDirectory(dir.File("prog")));
    RecordingHooks rec(dir.path());
    StatusHooks hooks = rec.Make();
    hooks.ratioTimeoutCode = c.timeoutCode;
    hooks.pathFor = [&](ResultKind kind) {
      return kind == ResultKind::RatioWorkFile ? dir.File("prog/Get_ratio.xml_tmp")
                                               : dir.File("answer/Get_ratio.xml");
    };
    rec.clock.onSleep = [&](unsigned n) {
      if (n == c.answerPossibleAfterPause) platform::MakeDirectory(dir.File("answer"));
    };
    StatusFiles files(hooks);
    files.ProgressRatio = 40;
    files.PublishProgress();
    files.RatioQuery();
    EXPECT_EQ(rec.clock.SleepCount(), c.pauses) << c.timeoutCode << " " << c.answerPossibleAfterPause;
    EXPECT_EQ(rec.clock.TotalSleptMs(), c.pauses * 500u);
    if (c.reported) {
      EXPECT_EQ(rec.reports, std::vector<std::string>{c.timeoutCode});
    } else {
      EXPECT_TRUE(rec.reports.empty());
      EXPECT_EQ(TreeOf(dir.File("answer/Get_ratio.xml")),
                kDecl + R"(Response{result_code{"OK"} data{"40"}})");
    }
  }
}

TEST(InstanceLock, RefusedInstanceReportsBusyInVersionModeElseDuplex) {
  for (bool versionMode : {true, false}) {
    testsupport::TempDir dir;
    RecordingHooks first(dir.path()), second(dir.path());
    StatusHooks hooks = first.Make();
    StatusHooks other = second.Make();
    other.lockName = hooks.lockName;
    other.isVersionMode = [versionMode] { return versionMode; };
    StatusFiles running(hooks);
    StatusFiles refused(other);
    EXPECT_EQ(running.AcquireInstanceLock(), 0);
    EXPECT_EQ(refused.AcquireInstanceLock(), 1);
    EXPECT_TRUE(first.reports.empty());
    EXPECT_EQ(second.reports, std::vector<std::string>{versionMode ? "Busy" : "Duplex"});
  }
}

TEST(InstanceLock, HeldUntilDestructionUnlessReleasedAtOnce) {
  testsupport::TempDir dir;
  RecordingHooks rec(dir.path());
  StatusHooks hooks = rec.Make();
  StatusHooks query = hooks;
  query.releaseLockAtOnce = [] { return true; };
  query.isVersionMode = [] { return true; };
  {
    StatusFiles versionQuery(query);
    EXPECT_EQ(versionQuery.AcquireInstanceLock(), 0);
    // The query only tested the lock: an update started meanwhile goes on.
    StatusFiles update(hooks);
    EXPECT_EQ(update.AcquireInstanceLock(), 0);
    StatusFiles secondQuery(query);
    EXPECT_EQ(secondQuery.AcquireInstanceLock(), 1);
  }
  StatusFiles later(hooks);
  EXPECT_EQ(later.AcquireInstanceLock(), 0);
  EXPECT_EQ(rec.reports, std::vector<std::string>{"Busy"});
}

TEST(InstanceLock, LockThatCannotBeCreatedCountsAsHeld) {
  if (platform::PathSeparator() != '/') GTEST_SKIP() << "named mutexes take no directory";
  testsupport::TempDir dir;
  RecordingHooks rec(dir.path());
  StatusHooks hooks = rec.Make();
  hooks.lockDir = dir.File("no-such-dir");
  StatusFiles files(hooks);
  EXPECT_EQ(files.AcquireInstanceLock(), 1);
  EXPECT_EQ(rec.reports, std::vector<std::string>{"Duplex"});
}

struct ConsumedCase {
  const char* name;
  bool pending;             // a file name is handed in at all
  bool present;             // the manager's previous file is there
  unsigned removedAtPause;  // 0: never removed
  unsigned pauses;
  bool overwritten;
};

TEST(WaitResponseFileConsumed, WaitsAtMostSixtyOnePausesForTheManager) {
  const ConsumedCase cases[] = {
      {"no update mode", false, true, 0, 0, false},
      {"already gone", true, false, 0, 0, false},
      {"taken during the third pause", true, true, 3, 3, false},
      {"taken during the last pause", true, true, 61, 61, false},
      {"never taken", true, true, 0, 61, true},
  };
  for (const ConsumedCase& c : cases) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDir cwd(dir.path());
    RecordingHooks rec(dir.path());
    StatusHooks hooks = rec.Make();
    hooks.pendingResponseFile = [&] { return std::string(c.pending ? "Update_normal.xml" : ""); };
    if (c.present) testsupport::WriteFile(dir.File("Update_normal.xml"), "previous");
    rec.clock.onSleep = [&](unsigned n) {
      if (n == c.removedAtPause) platform::RemoveFile(dir.File("Update_normal.xml"));
    };
    StatusFiles files(hooks);
    files.WaitResponseFileConsumed();
    EXPECT_EQ(rec.clock.SleepCount(), c.pauses) << c.name;
    EXPECT_EQ(rec.clock.TotalSleptMs(), c.pauses * 500u) << c.name;
    std::vector<std::string> expected;
    if (c.overwritten) {
      expected = {"Response file already exists.(Update_normal.xml)", "Overwrite file.(Update_normal.xml)"};
    }
    EXPECT_EQ(rec.logLines, expected) << c.name;
  }
}

}  // namespace
}  // namespace status
