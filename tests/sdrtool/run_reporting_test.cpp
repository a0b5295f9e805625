#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sdrtool/error_catalogue.h"
#include "sdrtool/result_codes.h"
#include "platform/files.h"
#include "tests/sdrtool/scripted_run.h"
#include "tests/support/result_file.h"

namespace veltrop {
namespace {

using ::testing::ElementsAre;

class RunReporting : public ScriptedRunTest {};

TEST_F(RunReporting, LogLineStampsEveryLineAndKeepsTheTextUninterpreted) {
  auto run = NewRun(ModeUpdate);
  run->Log("100% done %s %d");
  run->Log("");
  run->Log("ends with a line feed\n");
  std::string text = testsupport::ReadFileOrEmpty(dir.File(kMainLog));
  // Logs are written in text mode: CR LF on Windows.
  const std::string nl = platform::PathSeparator() == '\\' ? "\r\n" : "\n";
  EXPECT_EQ(text, "2010/06/02 01:14:33  100% done %s %d" + nl + "2010/06/02 01:14:33  " + nl +
                      "2010/06/02 01:14:33  ends with a line feed" + nl + nl);
  EXPECT_EQ(console.Output(), "");  // no echo without -display
}

TEST_F(RunReporting, ConsoleEchoWhenAskedOrWhileNoModeIsKnown) {
  auto run = NewRun(ModeNone);
  run->Log("Illegal parameter format.");
  run->settings.mode = ModeUpdate;
  run->ApplySettings();
  run->Log("hidden");
  run->settings.ConsoleEcho = true;
  run->ApplySettings();
  run->Log("shown\n");
  run->Log("");
  EXPECT_EQ(console.Output(), "Illegal parameter format.\nshown\n\n");
}

TEST_F(RunReporting, LogFileFollowsTheMode) {
  auto run = NewRun(ModeNone);
  run->Log("a");
  run->settings.mode = ModeVersion;
  run->ApplySettings();
  run->Log("b");
  run->settings.mode = ModeRatio;
  run->ApplySettings();
  run->Log("c");
  run->settings.mode = ModeBackup;
  run->ApplySettings();
  run->Log("d");
  EXPECT_THAT(Log(kMainLog), ElementsAre("a", "d"));
  EXPECT_THAT(Log(kVersionLog), ElementsAre("b"));
  EXPECT_THAT(Log(kRatioLog), ElementsAre("c"));
}

TEST_F(RunReporting, OverlongLinesAreCutAtTheLineBuffer) {
  auto run = NewRun(ModeUpdate);
  run->Log(std::string(5000, 'x'));
  auto lines = Log();
  ASSERT_EQ(lines.size(), 1u);
  // 1024-byte buffer: 21 stamp characters, the text, a line feed and the terminator.
  EXPECT_EQ(lines[0], std::string(1001, 'x'));
}

TEST_F(RunReporting, ResultCodeMessages) {
  EXPECT_STREQ(ResultCodeMessage("SDRC01"), "Illegal parameter format.");
  EXPECT_STREQ(ResultCodeMessage("SDRC04"), "This SDR data is not supported.(Not Found HWID in mchk_fil)");
  EXPECT_STREQ(ResultCodeMessage("Duplex"), "The update/backup has already been being executed. ");
  EXPECT_STREQ(ResultCodeMessage("sdrc01"), "");
  EXPECT_STREQ(ResultCodeMessage("Complete"), "");
  EXPECT_STREQ(ResultCodeMessage("Busy"), "");
}

TEST_F(RunReporting, ReportResultCodeWritesTheModesFileUnlessOperatorOrBackup) {
  auto run = NewRun(ModeForce);
  run->Report("Complete");
  EXPECT_THAT(Log(), ElementsAre(""));
  auto tree = testsupport::ReadResultFile(dir.File("Update_force.xml"));
  ASSERT_TRUE(tree.parsed);
  EXPECT_EQ(tree.resultCode, "Complete");
  EXPECT_EQ(tree.data, "");

  auto direct = NewRun(ModeUpdate);
  direct->settings.DirectMode = true;
  direct->ApplySettings();
  direct->Report("SDRC05");
  auto backup = NewRun(ModeBackup);
  backup->Report("SDRC05");
  EXPECT_FALSE(testsupport::ReadResultFile(dir.File("Update_normal.xml")).parsed);
}

TEST_F(RunReporting, ErrorLineForms) {
  auto run = NewRun(ModeBackup);  // no result files
  // By number, as result files show them; 80 and 85 are no errors of the catalogue.
  auto report = [&run](int number, uint16_t value = 0, const char* detail = nullptr) {
    return ErrorNumber(run->errors.Report(static_cast<SdrError>(number), value, detail));
  };
  run->trace.request = "Snd: 28 20 ";
  run->trace.response = "Rec: 2C 20 C1 ";
  EXPECT_EQ(report(0), 0);
  EXPECT_EQ(report(81), 81);
  EXPECT_EQ(report(80), 81);
  EXPECT_EQ(report(85), 81);
  EXPECT_EQ(report(57, 12), 57);
  EXPECT_EQ(report(66, 0, "C:\\x\\a.bin"), 66);
  EXPECT_EQ(report(26, 0, "C1"), 26);
  EXPECT_EQ(report(75), 75);
  EXPECT_EQ(report(61, 0, "1.00"), 61);
  EXPECT_EQ(report(27, 0, "Partial Add SDR"), 27);
  EXPECT_EQ(report(12), 12);
  EXPECT_THAT(Log(),
              ElementsAre("Error, ", "Error, invalid Sensor Data Record found, number 12",
                          "Error, failed to open the specified input file C:\\x\\a.bin",
                          "Error, failed to receive BMC response, bad completion code code = C1",
                          "Snd: 28 20 ", "Rec: 2C 20 C1 ", "Error, BIN file not Backup file",
                          "Error, this program only supports SDR format version 1.00 or higher.",
                          "Error, IPMI command retry error command = Partial Add SDR", "Snd: 28 20 ",
                          "Rec: 2C 20 C1 ", "Error, invalid comment in configuration file on line %d"));
}

TEST_F(RunReporting, OnlyTheFirstErrorReachesTheResultFile) {
  auto run = NewRun(ModeUpdate);
  run->errors.Report(SdrError::kInvalidRecord, 3);
  run->errors.Report(SdrError::kSdrFileParsing);
  auto tree = testsupport::ReadResultFile(dir.File("Update_normal.xml"));
  ASSERT_TRUE(tree.parsed);
  EXPECT_EQ(tree.resultCode, "SDR057");
  EXPECT_EQ(Log().size(), 2u);
}

TEST_F(RunReporting, UnknownNumbersAreReportedAs81) {
  auto run = NewRun(ModeVersion);
  run->errors.Report(static_cast<SdrError>(200));
  EXPECT_EQ(testsupport::ReadResultFile(dir.File("Get_version.xml")).resultCode, "SDR081");
}

}  // namespace
}  // namespace veltrop
