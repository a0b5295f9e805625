#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "platform/testing/memory_console.h"
#include "status/result_document.h"
#include "status/result_files.h"
#include "tests/status/status_test_support.h"
#include "tests/status/xml_tree.h"
#include "tests/support/temp_dir.h"

namespace status {
namespace {

using statustest::TreeOf;

const std::string kDecl = "?xml(version=1.0,encoding=UTF-8) ";

std::string InDir(const std::string& dir) {
  return dir + platform::PathSeparator();
}

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
    platform::MemoryConsole console;
    ResultFiles files(console);
    EXPECT_EQ(files.Write(c.kind, c.code, c.data, c.version), XmlSaveResult::kSaved) << c.fileName;
    EXPECT_STREQ(ResultFileName(c.kind), c.fileName);
    EXPECT_EQ(TreeOf(platform::JoinPath(dir.path(), c.fileName)), kDecl + c.tree)
        << c.fileName << " " << c.code;
    EXPECT_TRUE(console.Output().empty());
  }
}

// The manager parses what the programs write; a version text read from the BMC may hold any byte.
TEST(ResultFile, TextsTheParserWouldRefuseAreDroppedAndPlainAsciiKept) {
  std::string printable;
  for (int c = 0x20; c <= 0x7E; ++c) printable += static_cast<char>(c);
  const struct {
    const char* name;
    std::string in;
    std::string kept;
  } cases[] = {
      {"control characters",
       "01.\x01"
       "50\x1b",
       "01.50"},
      {"NUL and DEL", std::string{'0', '\0', '1', '.', '5', '\x7f', '0'}, "01.50"},
      {"bytes above 7Eh",
       "\x80"
       "01.\xff"
       "50\xe9",
       "01.50"},
      {"nothing left", "\x01\x02\x9f", ""},
      {"printable ASCII", printable, printable},
  };
  for (const auto& c : cases) {
    testsupport::TempDir dir;
    platform::MemoryConsole console;
    const std::string path = dir.File("Get_version.xml");
    const std::string ratioPath = dir.File("Get_ratio.xml");
    ASSERT_EQ(
        SaveXmlDocument(BuildResultDocument(ResultKind::VersionResult, c.in, c.in, c.in), path, console),
        XmlSaveResult::kSaved)
        << c.name;
    ASSERT_EQ(
        SaveXmlDocument(BuildResultDocument(ResultKind::RatioResult, "OK", c.in, ""), ratioPath, console),
        XmlSaveResult::kSaved)
        << c.name;
    const std::string text = c.kept.empty() ? "{}" : "{\"" + c.kept + "\"}";
    EXPECT_EQ(TreeOf(path),
              kDecl + "Response{result_code" + text + " data{cmp" + text + " version" + text + "}}")
        << c.name;
    EXPECT_EQ(TreeOf(ratioPath), kDecl + "Response{result_code{\"OK\"} data" + text + "}") << c.name;
    EXPECT_EQ(console.Output(), "") << c.name;
  }
  // Layout characters are legal XML and stay.
  EXPECT_EQ(XmlSafeText("a\tb\nc\rd"), "a\tb\nc\rd");
}

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
  platform::MemoryConsole console;
  ResultFiles files(console);
  files.placement.resultPrefix = "sample_";
  files.Write(ResultKind::VersionResult, "OK", "", "01.05");
  files.Write(ResultKind::NormalResult, "Down Grade", "", "");
}

TEST(ResultFile, PlacementAndGatingComeFromTheProgram) {
  testsupport::TempDir dir;
  ASSERT_TRUE(platform::MakeDirectory(dir.File("pkg")));
  ASSERT_TRUE(platform::MakeDirectory(dir.File("prog")));
  platform::MemoryConsole console;
  ResultFiles files(console);
  files.placement.resultPrefix = InDir(dir.File("pkg"));
  files.placement.workFilePrefix = InDir(dir.File("prog"));
  EXPECT_EQ(files.PathOf(ResultKind::NormalResult), platform::JoinPath(dir.File("pkg"), "Update_normal.xml"));
  EXPECT_EQ(files.PathOf(ResultKind::RatioResult), platform::JoinPath(dir.File("pkg"), "Get_ratio.xml"));
  EXPECT_EQ(files.PathOf(ResultKind::RatioWorkFile),
            platform::JoinPath(dir.File("prog"), "Get_ratio.xml_tmp"));

  EXPECT_EQ(files.Write(ResultKind::NormalResult, "Complete", "", ""), XmlSaveResult::kSaved);
  EXPECT_EQ(files.PublishProgress(7), XmlSaveResult::kSaved);
  EXPECT_EQ(TreeOf(dir.File("pkg/Update_normal.xml")), kDecl + R"(Response{result_code{"Complete"} data{}})");
  EXPECT_EQ(TreeOf(dir.File("prog/Get_ratio.xml_tmp")), kDecl + R"(Response{result_code{"OK"} data{"7"}})");

  // A run without result files writes nothing at all, yet reports no failure.
  files.placement.enabled = false;
  EXPECT_EQ(files.Write(ResultKind::ForceResult, "Complete", "", ""), XmlSaveResult::kSaved);
  EXPECT_EQ(files.PublishProgress(8), XmlSaveResult::kSaved);
  EXPECT_FALSE(platform::FileReadable(dir.File("pkg/Update_force.xml")));
  EXPECT_EQ(TreeOf(dir.File("prog/Get_ratio.xml_tmp")), kDecl + R"(Response{result_code{"OK"} data{"7"}})");
  EXPECT_TRUE(console.Output().empty());
}

TEST(ResultFile, UnsavableFileIsReportedAndLeavesNothing) {
  testsupport::TempDir dir;
  platform::MemoryConsole console;
  ResultFiles files(console);
  files.placement.resultPrefix = InDir(dir.File("missing"));
  EXPECT_EQ(files.Write(ResultKind::NormalResult, "Complete", "", ""), XmlSaveResult::kNotSaved);
  EXPECT_FALSE(platform::FileReadable(dir.File("missing")));
  EXPECT_TRUE(console.Output().empty());
}

TEST(ResultFile, ReplacingLeavesNoTemporaryFilesBehind) {
  testsupport::TempDir dir;
  platform::MemoryConsole console;
  ResultFiles files(console);
  files.placement.resultPrefix = files.placement.workFilePrefix = InDir(dir.path());
  for (int i = 0; i < 3; ++i) files.PublishProgress(i);
  files.Write(ResultKind::NormalResult, "OK", "", "");
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
  platform::MemoryConsole console;
  ResultFiles files(console);
  files.placement.workFilePrefix = InDir(dir.path());
  files.PublishProgress(0);
  std::atomic<bool> done{false};
  std::atomic<int> unsaved{0};
  std::thread writer([&] {
    for (int i = 1; i <= 60; ++i) {
      if (files.PublishProgress(i) != XmlSaveResult::kSaved) ++unsaved;
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
  EXPECT_EQ(unsaved, 0);
  EXPECT_EQ(TreeOf(dir.File("Get_ratio.xml_tmp")), kDecl + R"(Response{result_code{"OK"} data{"60"}})");
}

}  // namespace
}  // namespace status
