#include "runcontrol/run_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/runcontrol/run_test_support.h"

namespace runcontrol {
namespace {

const std::string kStamp = "2010/06/02 01:14:33  ";

// The file's bytes as a reader in text mode sees them (Windows writes CR LF).
std::string TextOf(const std::string& path) {
  std::string text = testsupport::ReadFileOrEmpty(path);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string Letters(size_t n) {
  std::string text;
  for (size_t i = 0; i < n; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

class RunLogTest : public runcontroltest::RunTest {};

// Nothing is written beyond the program's line buffer: stamp, text, line feed and the
// terminator share it.
TEST_F(RunLogTest, LinesAreStampedAndCutToTheLineBuffer) {
  const struct {
    size_t buffer;
    size_t textLength;
    size_t kept;
  } cases[] = {
      {1024, 10, 10}, {1024, 1001, 1001}, {1024, 1002, 1001}, {1024, 5000, 1001},
      {512, 0, 0},    {512, 489, 489},    {512, 490, 489},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File("cut.log");
    platform::RemoveFile(path);
    RunLog log(clock, console, c.buffer);
    log.AddFile(runcontroltest::PlainLog(path));
    const std::string text = Letters(c.textLength);
    log.Line(text);
    log.Line("next");
    const std::string first = kStamp + text.substr(0, c.kept) + "\n";
    EXPECT_LE(first.size(), c.buffer - 1) << c.buffer << " " << c.textLength;
    EXPECT_EQ(TextOf(path), first + kStamp + "next\n") << c.buffer << " " << c.textLength;
  }
  EXPECT_EQ(console.Output(), "");
  EXPECT_EQ(LogStamp({2099, 12, 31, 23, 5, 9}), "2099/12/31 23:05:09  ");
}

TEST_F(RunLogTest, LinesGoToTheChosenFileAndAreEchoedWithoutStamp) {
  RunLog log(clock, console, 1024);
  EXPECT_EQ(log.AddFile(runcontroltest::PlainLog(dir.File("a.log"))), 0u);
  EXPECT_EQ(log.AddFile(runcontroltest::PlainLog(dir.File("b.log"))), 1u);
  log.Line("to a");
  log.Use(1);
  log.SetEcho(true);
  log.Line("to b");
  log.Line("ends in a line feed\n");
  EXPECT_EQ(testsupport::ReadLogTexts(dir.File("a.log")), std::vector<std::string>{"to a"});
  EXPECT_EQ(testsupport::ReadLogTexts(dir.File("b.log"))[0], "to b");
  EXPECT_EQ(console.Output(), "to b\nends in a line feed\n");

  console.ClearOutput();
  RunLog consoleOnly(clock, console, 1024);
  consoleOnly.SetEcho(true);
  consoleOnly.Line("no file");
  EXPECT_EQ(console.Output(), "no file\n");
}

// Rotation above 3 lines. The counter comes from the file at start-up and starts again at 0
// after a rotation, the line just written aside.
TEST_F(RunLogTest, RotationByLinesCopiesTheFileAsideOnceItIsAboveTheLimit) {
  const struct {
    const char* name;
    int existing;
    int written;
    std::vector<std::string> file;
    std::vector<std::string> backup;
  } cases[] = {
      {"no file yet", 0, 4, {"n1", "n2", "n3", "n4"}, {}},
      {"above the limit", 0, 5, {"n5"}, {"n1", "n2", "n3", "n4"}},
      {"a file at the limit appends", 3, 1, {"o1", "o2", "o3", "n1"}, {}},
      {"the next line rotates", 3, 2, {"n2"}, {"o1", "o2", "o3", "n1"}},
      {"above the limit at start", 4, 1, {"n1"}, {"o1", "o2", "o3", "o4"}},
      {"a second cycle in one run is one line longer", 0, 10, {"n10"}, {"n5", "n6", "n7", "n8", "n9"}},
      {"a restart after a rotation", 1, 4, {"n4"}, {"o1", "n1", "n2", "n3"}},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File("fw.log"), backup = dir.File("fw.bak");
    platform::RemoveFile(path);
    platform::RemoveFile(backup);
    std::string old;
    for (int i = 1; i <= c.existing; ++i) old += kStamp + "o" + std::to_string(i) + "\n";
    if (c.existing > 0) testsupport::WriteFile(path, old);
    RunLog log(clock, console, 1024);
    log.AddFile({path, 3, backup, c.existing});
    for (int i = 1; i <= c.written; ++i) log.Line("n" + std::to_string(i));
    EXPECT_EQ(testsupport::ReadLogTexts(path), c.file) << c.name;
    EXPECT_EQ(testsupport::ReadLogTexts(backup), c.backup) << c.name;
  }
}

// A backup that cannot be written must not cost the log its lines: the file keeps growing and
// the next line tries again.
TEST_F(RunLogTest, FailedCopyAsideKeepsTheLines) {
  const std::string path = dir.File("fw.log");
  RunLog log(clock, console, 1024);
  log.AddFile({path, 2, dir.File("missing/fw.bak"), 0});
  for (int i = 1; i <= 5; ++i) log.Line("n" + std::to_string(i));
  EXPECT_EQ(testsupport::ReadLogTexts(path), (std::vector<std::string>{"n1", "n2", "n3", "n4", "n5"}));
}

}  // namespace
}  // namespace runcontrol
