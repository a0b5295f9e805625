#include "runcontrol/run_context.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/runcontrol/run_test_support.h"
#include "tests/support/result_file.h"

namespace runcontrol {
namespace {

using status::ResultKind;
using status::XmlSaveResult;

const ResultMessage kMessages[] = {
    {"Complete", "Update completed normally."}, {"Busy", "Another instance is running (query)."},
    {"Duplex", "Another instance is running."}, {"C19", "Progress copy timed out."},
    {"SDRC08", "Ratio file copy error."},
};

const char* const kAllFiles[] = {"Get_version.xml", "Update_normal.xml", "Update_force.xml",
                                 "Get_ratio.xml_tmp", "Get_ratio.xml"};

class RunContextTest : public runcontroltest::RunTest {
 protected:
  std::unique_ptr<RunContext> NewReportingRun(std::optional<ResultKind> mode) {
    auto run = NewRun();
    run->reporter.rules.messages = kMessages;
    run->reporter.rules.messageCount = std::size(kMessages);
    run->reporter.modeKind = mode;
    return run;
  }
  std::string CodeIn(const std::string& file) const {
    testsupport::ResultTree tree = testsupport::ReadResultFile(dir.File(file));
    return tree.parsed ? tree.resultCode : "(none)";
  }
};

TEST_F(RunContextTest, MessagesAreLookedUpByExactCode) {
  auto run = NewReportingRun(std::nullopt);
  const struct {
    const char* code;
    std::string message;
  } cases[] = {
      {"Complete", "Update completed normally."},
      {"C19", "Progress copy timed out."},
      {"complete", ""},
      {"Complet", ""},
      {"Complete ", ""},
      {"", ""},
      {"C1", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(run->reporter.MessageOf(c.code), c.message) << '"' << c.code << '"';
}

struct ReportCase {
  const char* name;
  std::optional<ResultKind> mode;
  bool filesEnabled;
  bool printWithoutResultFile;
  bool resultFileBeforeLog;
  std::string console;
  const char* file;  // the one result file written, or nullptr
};

TEST_F(RunContextTest, ReportLogsTheMessageAndWritesTheModeFileInTheProgramsOrder) {
  const ReportCase cases[] = {
      {"manager run, log line first", ResultKind::NormalResult, true, true, false, "", "Update_normal.xml"},
      {"manager run, result file first", ResultKind::ForceResult, true, false, true, "", "Update_force.xml"},
      {"operator run of a program that prints", std::nullopt, false, true, false,
       "Update completed normally.\n", nullptr},
      {"operator run of a program that does not", std::nullopt, false, false, false, "", nullptr},
      {"mode file in a run without files", ResultKind::VersionResult, false, true, false, "", nullptr},
  };
  for (const ReportCase& c : cases) {
    platform::RemoveFile(dir.File("run.log"));
    for (const char* name : kAllFiles) platform::RemoveFile(dir.File(name));
    console.ClearOutput();
    auto run = NewReportingRun(c.mode);
    run->files.placement.enabled = c.filesEnabled;
    run->reporter.rules.printWithoutResultFile = c.printWithoutResultFile;
    run->reporter.rules.resultFileBeforeLog = c.resultFileBeforeLog;
    struct Call {
      ResultKind kind;
      std::string code;
      size_t logLines;
      bool fileThere;
    };
    std::vector<Call> calls;
    run->reporter.beforeResultFile = [&](ResultKind kind, const std::string& code) {
      calls.push_back({kind, code, Log().size(), platform::FileReadable(run->files.PathOf(kind))});
    };
    run->reporter.Report("Complete");
    EXPECT_EQ(Log(), std::vector<std::string>{"Update completed normally."}) << c.name;
    EXPECT_EQ(console.Output(), c.console) << c.name;
    for (const char* name : kAllFiles) {
      EXPECT_EQ(platform::FileReadable(dir.File(name)), c.file && std::string(name) == c.file)
          << c.name << " " << name;
    }
    if (c.file) {
      EXPECT_EQ(CodeIn(c.file), "Complete") << c.name;
      ASSERT_EQ(calls.size(), 1u) << c.name;
      EXPECT_EQ(calls[0].kind, *c.mode) << c.name;
      EXPECT_EQ(calls[0].code, "Complete") << c.name;
      EXPECT_EQ(calls[0].logLines, c.resultFileBeforeLog ? 0u : 1u) << c.name;
      // The hook runs before the file exists, so a hold-back really delays the file.
      EXPECT_FALSE(calls[0].fileThere) << c.name;
    } else {
      EXPECT_TRUE(calls.empty()) << c.name;
    }
  }
}

// The SDR tool's 30-second rule through the hook: an early failure's file appears 30 s after start.
TEST_F(RunContextTest, HeldBackResultFileAppearsThirtySecondsAfterStart) {
  auto run = NewReportingRun(ResultKind::NormalResult);
  const int64_t start = clock.WallSeconds();
  // What the SDR tool's rule does: the rest of 30 s after the first "OK" file.
  run->reporter.beforeResultFile = [&](ResultKind, const std::string&) {
    clock.SleepMs(static_cast<uint32_t>((30 - (clock.WallSeconds() - start)) * 1000));
  };
  clock.Advance(5000);
  run->reporter.Report("SDR030");
  EXPECT_EQ(clock.sleeps, std::vector<uint32_t>{25000});
  EXPECT_EQ(CodeIn("Update_normal.xml"), "SDR030");
}

TEST_F(RunContextTest, SaveOutcomes) {
  const struct {
    XmlSaveResult saved;
    std::vector<std::string> log;
    std::string console;
    int exitStatus;
  } cases[] = {
      {XmlSaveResult::kSaved, {}, "", 0},
      // The manager would otherwise find an old result or none, without a trace of why.
      {XmlSaveResult::kNotSaved, {"Result file save error.(Get_ratio.xml)"}, "", 0},
      // The run goes on to its end (restores, unlocks) and only then exits with 1.
      {XmlSaveResult::kUnavailable, {}, "Initilaize error\n", 1},
  };
  for (const auto& c : cases) {
    platform::RemoveFile(dir.File("run.log"));
    console.ClearOutput();
    auto run = NewReportingRun(ResultKind::RatioResult);
    run->reporter.HandleSave(c.saved, ResultKind::RatioResult);
    EXPECT_EQ(Log(), c.log);
    EXPECT_EQ(console.Output(), c.console);
    EXPECT_EQ(run->reporter.ExitStatus(), c.exitStatus);
  }
}

TEST_F(RunContextTest, UnsavableFilesGetOneLogLineEachAndTheRunGoesOn) {
  auto run = NewReportingRun(ResultKind::NormalResult);
  run->files.placement.resultPrefix = InDir("missing");
  run->files.placement.workFilePrefix = InDir("gone");
  run->reporter.Report("Complete");
  run->SetProgress(50);
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Update completed normally.",
                       "Result file save error.(" + InDir("missing") + "Update_normal.xml)",
                       "Result file save error.(" + InDir("gone") + "Get_ratio.xml_tmp)",
                   }));
  EXPECT_EQ(run->progressRatio, 50);
  EXPECT_EQ(console.Output(), "");
  EXPECT_EQ(run->reporter.ExitStatus(), 0);
}

TEST_F(RunContextTest, SecondInstanceReportsBusyToAQueryAndDuplexToAnUpdate) {
  {
    auto holder = NewReportingRun(ResultKind::NormalResult);
    ASSERT_TRUE(AcquireInstanceLock(*holder, false, true));
    auto query = NewReportingRun(ResultKind::VersionResult);
    EXPECT_FALSE(AcquireInstanceLock(*query, true, false));
    EXPECT_EQ(CodeIn("Get_version.xml"), "Busy");
    auto update = NewReportingRun(ResultKind::NormalResult);
    EXPECT_FALSE(AcquireInstanceLock(*update, false, true));
    EXPECT_EQ(CodeIn("Update_normal.xml"), "Duplex");
    EXPECT_EQ(Log(), (std::vector<std::string>{"Another instance is running (query).",
                                               "Another instance is running."}));
  }
  // A query only tests the lock: an update started after it goes on.
  auto query = NewReportingRun(ResultKind::VersionResult);
  EXPECT_TRUE(AcquireInstanceLock(*query, true, false));
  auto update = NewReportingRun(ResultKind::NormalResult);
  EXPECT_TRUE(AcquireInstanceLock(*update, false, true));
  auto another = NewReportingRun(ResultKind::ForceResult);
  EXPECT_FALSE(AcquireInstanceLock(*another, false, true));
  EXPECT_EQ(CodeIn("Update_force.xml"), "Duplex");
}

TEST_F(RunContextTest, LockThatCannotBeCreatedIsLoggedAndCountsAsHeld) {
  if (platform::PathSeparator() != '/') GTEST_SKIP() << "named mutexes take no directory";
  env.lockDir = dir.File("no-such-dir");
  auto run = NewReportingRun(ResultKind::NormalResult);
  EXPECT_FALSE(AcquireInstanceLock(*run, false, true));
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "the lock " + env.lockName + " cannot be created: no lock directory: " + env.lockDir,
                       "Another instance is running."}));
  EXPECT_EQ(CodeIn("Update_normal.xml"), "Duplex");
}

// The working file lies beside the program, the answer in the package; the answer cannot be
// written until its directory appears.
struct RatioCase {
  const char* name;
  bool working;                  // an update publishes its ratio
  int answerPossibleAfterPause;  // -1: from the start, 0: never
  const char* timeoutCode;
  size_t pauses;
  std::string answer;  // result code in the answer file
  std::vector<std::string> log;
};

TEST_F(RunContextTest, RatioQueryCopiesTheProgressOrReportsTheProgramsTimeOutCode) {
  const RatioCase cases[] = {
      {"no update runs", false, -1, "SDRC08", 0, "No-Command", {}},
      {"copied", true, -1, "C19", 0, "OK", {}},
      {"third copy succeeds", true, 2, "C19", 2, "OK", {}},
      {"the SDR tool's time-out",
       true,
       0,
       "SDRC08",
       11,
       "(none)",
       {"Ratio file copy error.", "Result file save error.(" + InDir("answer") + "Get_ratio.xml)"}},
      {"the firmware tool's time-out",
       true,
       0,
       "C19",
       11,
       "(none)",
       {"Progress copy timed out.", "Result file save error.(" + InDir("answer") + "Get_ratio.xml)"}},
  };
  for (const RatioCase& c : cases) {
    std::filesystem::remove_all(dir.File("answer"));
    std::filesystem::remove_all(dir.File("prog"));
    platform::RemoveFile(dir.File("run.log"));
    clock.sleeps.clear();
    ASSERT_TRUE(platform::MakeDirectory(dir.File("prog")));
    if (c.answerPossibleAfterPause < 0) {
      ASSERT_TRUE(platform::MakeDirectory(dir.File("answer")));
    }
    clock.onSleep = [&](unsigned) {
      if (static_cast<int>(clock.sleeps.size()) == c.answerPossibleAfterPause) {
        platform::MakeDirectory(dir.File("answer"));
      }
    };
    auto run = NewReportingRun(ResultKind::RatioResult);
    run->files.placement.workFilePrefix = InDir("prog");
    run->files.placement.resultPrefix = InDir("answer");
    if (c.working) run->SetProgress(40);
    AnswerRatioQuery(*run, c.timeoutCode);
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(c.pauses, 500)) << c.name;
    EXPECT_EQ(CodeIn("answer/Get_ratio.xml"), c.answer) << c.name;
    if (c.answer == "OK") {
      EXPECT_EQ(testsupport::ReadResultFile(dir.File("answer/Get_ratio.xml")).data, "40") << c.name;
    }
    EXPECT_EQ(Log(), c.log) << c.name;
  }
  clock.onSleep = nullptr;
}

// The removal is blocked while a directory stands in the working file's place.
struct FinishCase {
  const char* name;
  int attempts;
  int blockedUntilPause;  // 0: not blocked, -1: for ever
  std::vector<uint32_t> pauses;
  bool removed;
};

TEST_F(RunContextTest, FinishedUpdateLeavesTheLastRatioTenSecondsThenRemovesIt) {
  const FinishCase cases[] = {
      {"removed at once", 3, 0, {10000}, true},        {"third attempt", 5, 3, {10000, 500, 500}, true},
      {"last attempt", 3, 3, {10000, 500, 500}, true}, {"never", 4, -1, {10000, 500, 500, 500}, false},
      {"a single attempt", 1, -1, {10000}, false},
  };
  for (const FinishCase& c : cases) {
    const std::string work = dir.File("Get_ratio.xml_tmp");
    std::filesystem::remove_all(work);
    clock.sleeps.clear();
    auto run = NewRun();
    run->SetProgress(100);
    ASSERT_TRUE(platform::FileReadable(work));
    if (c.blockedUntilPause != 0) {
      platform::RemoveFile(work);
      ASSERT_TRUE(platform::MakeDirectory(work));
      testsupport::WriteFile(dir.File("Get_ratio.xml_tmp/blocker"), "");
    }
    clock.onSleep = [&](unsigned) {
      if (static_cast<int>(clock.sleeps.size()) == c.blockedUntilPause) {
        std::filesystem::remove_all(work);
        testsupport::WriteFile(work, "last ratio");
      }
    };
    FinishManagedUpdate(*run, c.attempts);
    EXPECT_EQ(clock.sleeps, c.pauses) << c.name;
    EXPECT_EQ(std::filesystem::exists(work), !c.removed) << c.name;
  }
  clock.onSleep = nullptr;
}

}  // namespace
}  // namespace runcontrol
