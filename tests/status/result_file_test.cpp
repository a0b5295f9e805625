#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "status/status_files.h"
#include "tests/status/status_test_support.h"
#include "tests/status/xml_tree.h"
#include "tests/support/temp_dir.h"

namespace status {
namespace {

using statustest::RecordingHooks;
using statustest::TreeOf;

const std::string kDecl = "?xml(version=1.0,encoding=UTF-8) ";

struct DocumentCase {
  ResultKind kind;
  const char* fileName;
  const char* code;
  const char* data;
  const char* version;
  std::string tree;
};

TEST(ResultFile, EveryKindParsesBackIntoItsTreeUnderItsPlainName) {
  const DocumentCase cases[] = {
      {ResultKind::VersionResult, "Get_version.xml", "OK", "Even", "01.05",
       R"(Response{result_code{"OK"} data{cmp{"Even"} version{"01.05"}}})"},
      {ResultKind::VersionResult, "Get_version.xml", "C20", "", "",
       R"(Response{result_code{"C20"} data{cmp{} version{}}})"},
      {ResultKind::NormalResult, "Update_normal.xml", "Down Grade", "Upper", "01.05",
       R"(Response{result_code{"Down Grade"} data{}})"},
      {ResultKind::ForceResult, "Update_force.xml", "Complete", "", "",
       R"(Response{result_code{"Complete"} data{}})"},
      {ResultKind::RatioWorkFile, "Get_ratio.xml_tmp", "OK", "35", "ignored",
       R"(Response{result_code{"OK"} data{"35"}})"},
      {ResultKind::RatioResult, "Get_ratio.xml", "No-Command", "", "",
       R"(Response{result_code{"No-Command"} data{}})"},
      // Markup characters must be escaped, not written raw.
      {ResultKind::RatioResult, "Get_ratio.xml", "a<b&c>'\"", "x]]>y", "",
       R"(Response{result_code{"a<b&c>'""} data{"x]]>y"}})"},
  };
  for (const DocumentCase& c : cases) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDir cwd(dir.path());
    RecordingHooks rec(dir.path());
    StatusHooks hooks = rec.Make();
    hooks.pathFor = nullptr;
    StatusFiles files(hooks);
    files.WriteResultFile(c.kind, c.code, c.data, c.version);
    EXPECT_STREQ(ResultFileName(c.kind), c.fileName);
    EXPECT_EQ(TreeOf(platform::JoinPath(dir.path(), c.fileName)), kDecl + c.tree)
        << c.fileName << " " << c.code;
    EXPECT_TRUE(rec.logLines.empty());
    EXPECT_TRUE(rec.console.Output().empty());
  }
}

// Files kept from each backend: the libxml2 ones from the Linux build, the MSXML ones written
// under Wine. Each build reads both with its own parser.
TEST(ResultFile, FilesOfBothBackendsParseIntoTheSameTree) {
  const std::string dataDir = STATUS_TEST_DATA_DIR;
  const struct {
    const char* file;
    std::string tree;
  } cases[] = {
      {"libxml2_Get_version.xml", R"(Response{result_code{"OK"} data{cmp{} version{"01.05"}}})"},
      {"msxml_Get_version.xml", R"(Response{result_code{"OK"} data{cmp{} version{"01.05"}}})"},
      {"libxml2_Update_normal.xml", R"(Response{result_code{"Down Grade"} data{}})"},
      {"msxml_Update_normal.xml", R"(Response{result_code{"Down Grade"} data{}})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TreeOf(platform::JoinPath(dataDir, c.file)), kDecl + c.tree) << c.file;
  }
}

// Regenerates the files above with this build's backend:
//   status_tests --gtest_also_run_disabled_tests --gtest_filter=*WriteBackendSamples
TEST(ResultFile, DISABLED_WriteBackendSamples) {
  StatusHooks hooks;
  hooks.pathFor = [](ResultKind kind) { return std::string("sample_") + ResultFileName(kind); };
  StatusFiles files(hooks);
  files.WriteResultFile(ResultKind::VersionResult, "OK", "", "01.05");
  files.WriteResultFile(ResultKind::NormalResult, "Down Grade", "", "");
}

TEST(ResultFile, GatingAndPlacementComeFromTheProgram) {
  testsupport::TempDir dir;
  ASSERT_TRUE(platform::MakeDirectory(dir.File("pkg")));
  RecordingHooks rec(dir.path());
  StatusHooks hooks = rec.Make();
  std::vector<ResultKind> beforeWrites;
  hooks.shouldWrite = [](ResultKind kind) { return kind != ResultKind::ForceResult; };
  hooks.pathFor = [&](ResultKind kind) { return platform::JoinPath(dir.File("pkg"), ResultFileName(kind)); };
  hooks.beforeWrite = [&](ResultKind kind) {
    beforeWrites.push_back(kind);
    // The hook runs before the file exists, so a hold-back really delays the file.
    EXPECT_FALSE(platform::FileExists(dir.File("pkg/Update_normal.xml")));
  };
  StatusFiles files(hooks);
  files.WriteResultFile(ResultKind::ForceResult, "Complete", "", "");
  files.WriteResultFile(ResultKind::NormalResult, "Complete", "", "");
  EXPECT_FALSE(platform::FileExists(dir.File("pkg/Update_force.xml")));
  EXPECT_FALSE(platform::FileExists(dir.File("Update_normal.xml")));
  EXPECT_EQ(TreeOf(dir.File("pkg/Update_normal.xml")), kDecl + R"(Response{result_code{"Complete"} data{}})");
  EXPECT_EQ(beforeWrites, std::vector<ResultKind>{ResultKind::NormalResult});
}

TEST(ResultFile, UnsavableFileGetsOneLogLineAndNothingElse) {
  testsupport::TempDir dir;
  RecordingHooks rec(dir.File("missing"));
  StatusFiles files(rec.Make());
  files.WriteResultFile(ResultKind::NormalResult, "Complete", "", "");
  std::string path = platform::JoinPath(dir.File("missing"), "Update_normal.xml");
  EXPECT_EQ(rec.logLines, std::vector<std::string>{"Result file save error.(" + path + ")"});
  EXPECT_TRUE(rec.reports.empty());
  EXPECT_TRUE(rec.exits.empty());
  EXPECT_TRUE(rec.console.Output().empty());
}

TEST(ResultFile, ReplacingLeavesNoTemporaryFilesBehind) {
  testsupport::TempDir dir;
  RecordingHooks rec(dir.path());
  StatusFiles files(rec.Make());
  for (int i = 0; i < 3; ++i) files.WriteResultFile(ResultKind::RatioWorkFile, "OK", std::to_string(i), "");
  files.WriteResultFile(ResultKind::NormalResult, "OK", "", "");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Get_ratio.xml_tmp", "Update_normal.xml"}));
  EXPECT_EQ(TreeOf(dir.File("Get_ratio.xml_tmp")), kDecl + R"(Response{result_code{"OK"} data{"2"}})");
}

// A ratio query copies the working file at any moment; it must never see half a document.
TEST(ResultFile, ReaderNeverSeesAPartialWorkingFile) {
  testsupport::TempDir dir;
  RecordingHooks rec(dir.path());
  StatusFiles files(rec.Make());
  files.PublishProgress();
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 1; i <= 60; ++i) {
      files.ProgressRatio = i;
      files.PublishProgress();
    }
    done = true;
  });
  int reads = 0, unopened = 0, partial = 0;
  std::string last;
  while (!done || reads == 0) {
    std::string bytes, tree, error;
    ++reads;
    // Windows may refuse the open for the instant of the replacement; the query retries that.
    if (!platform::ReadWholeFile(dir.File("Get_ratio.xml_tmp"), &bytes)) {
      ++unopened;
      continue;
    }
    if (!statustest::DescribeXml(bytes, &tree, &error) ||
        tree.rfind(kDecl + R"(Response{result_code{"OK"} data{")", 0) != 0) {
      ++partial;
      last = bytes;
    }
  }
  writer.join();
  EXPECT_EQ(partial, 0) << last;
  // A POSIX rename replaces the name in one step: the file is never missing.
  if (platform::PathSeparator() == '/') {
    EXPECT_EQ(unopened, 0);
  }
  EXPECT_TRUE(rec.logLines.empty());
  EXPECT_EQ(TreeOf(dir.File("Get_ratio.xml_tmp")), kDecl + R"(Response{result_code{"OK"} data{"60"}})");
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
    std::vector<std::string> trace;
    HoldBackUpdateResult(clock, start, [&](const std::string& line) { trace.push_back(line); });
    EXPECT_EQ(clock.TotalSleptMs(), c.sleptMs) << c.elapsedSeconds;
    EXPECT_LE(clock.SleepCount(), 1u);
    EXPECT_EQ(trace, (std::vector<std::string>{"update end", "result file reply"}));
    HoldBackUpdateResult(clock, start, {});  // no trace log: only the wait
  }
}

TEST(UpdateResultDelay, ResultFileOfAnEarlyFailureAppearsAboutTwentyFiveSecondsLater) {
  testsupport::TempDir dir;
  RecordingHooks rec(dir.path());
  StatusHooks hooks = rec.Make();
  int64_t start = rec.clock.WallSeconds();
  uint64_t writtenAtMs = 0;
  hooks.beforeWrite = [&](ResultKind kind) {
    if (kind == ResultKind::NormalResult) HoldBackUpdateResult(rec.clock, start, {});
  };
  auto place = hooks.pathFor;
  hooks.pathFor = [&](ResultKind kind) {
    writtenAtMs = rec.clock.MonotonicMs();
    return place(kind);
  };
  StatusFiles files(hooks);
  rec.clock.Advance(5000);
  files.WriteResultFile(ResultKind::NormalResult, "SDR030", "", "");
  EXPECT_EQ(writtenAtMs, 30000u);
  EXPECT_EQ(TreeOf(dir.File("Update_normal.xml")), kDecl + R"(Response{result_code{"SDR030"} data{}})");
}

}  // namespace
}  // namespace status
