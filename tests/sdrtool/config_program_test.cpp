#include <string>
#include <vector>

#include "sdrtool/config_script/config_script.h"
#include "tests/sdrtool/veltrop_fixture.h"

namespace veltrop {
namespace {

using testsupport::Record;

constexpr const char* kBoardA = "S2026120700002.00";
constexpr const char* kBoardB = "S2026120700002.10";

// The vendor's OEM text record: manufacturer 2D 9B 4E, then the text (SDR version: "S...")
// or the marker 16h and the text (configuration script name).
Record VendorRecord(uint16_t id, const std::string& text, bool cfgName = false) {
  Record r = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), 0x51, 0xC0, 0, 0x2D, 0x9B, 0x4E};
  if (cfgName) r.push_back(0x16);
  r.insert(r.end(), text.begin(), text.end());
  r[4] = static_cast<uint8_t>(r.size() - 5);
  return r;
}

// What a record of the test boards is: its version text, "BMC", or its sensor name.
std::string Label(const Record& r) {
  if (r.size() < 5) return "short record";
  switch (r[3]) {
    case 0xC0:
      return "version " + std::string(r.begin() + 8, r.end());
    case 0x12:
      return "BMC";
    case 0x02:
      return r.size() > 32 ? std::string(r.begin() + 32, r.end()) : "short sensor";
    default:
      return "type " + std::to_string(r[3]);
  }
}

class ConfigProgramTest : public VeltropFixture {
 protected:
  ConfigProgramTest() {
    for (const char* name : {"board_a.sdr", "board_b.sdr"}) {
      Write(name, testsupport::ReadFileOrEmpty(std::string(BMC_TEST_DATA_DIR) + "/cfg/" + name));
    }
  }

  std::vector<std::string> RepositoryLabels() const {
    std::vector<std::string> labels;
    for (const Record& r : bmc.Records()) labels.push_back(Label(r));
    return labels;
  }

  // Log lines that contain text, in order.
  std::vector<std::string> LogWith(const std::string& text) const {
    std::vector<std::string> found;
    for (const std::string& line : LogLines()) {
      if (line.find(text) != std::string::npos) found.push_back(line);
    }
    return found;
  }

  int RunScript(const std::string& text, SdrMode mode = ModeForce) {
    Write("test.cfg", text);
    run = NewRun(mode);
    return ErrorNumber(RunConfigScript(*run, "test.cfg"));
  }

  std::unique_ptr<SdrRun> run;
};

const std::vector<std::string> kBoardASelected = {"version " + std::string(kBoardA), "BMC", "CPU2 Temp",
                                                  "FAN Speed", "System Temp"};

TEST_F(ConfigProgramTest, WritesTheSelectedRecordsAndComparesThemAfterwards) {
  // The names set and cleared after the SDRNAME lines still decide the selection.
  ASSERT_EQ(0, RunScript("SET DIMM1\n"
                         "SDRNAME board_a.sdr LAST COMPARE\n"
                         "SDRNAME board_a.sdr\n"
                         "CLEAR dimm1\n"
                         "SET CPU2\n"
                         "IFSET CPU#\n"
                         "  SET FAN3\n"
                         "ENDIF\n"));
  EXPECT_EQ(kBoardASelected, RepositoryLabels());
  EXPECT_EQ(
      (std::vector<std::string>{"SDR data was successfully written!", "SDR data was successfully compared!"}),
      LogWith("successfully"));
  // The last entry only compared: no reboot is due for it.
  EXPECT_FALSE(run->programming.programmed);
  EXPECT_TRUE(LogWith("reboot").empty());
  EXPECT_FALSE(bmc.LockHeld());
}

TEST_F(ConfigProgramTest, LastGroupFollowsFirstAndCountersRunOn) {
  Write("test.cfg",
        "SDRNAME board_b.sdr LAST\n"
        "SDRNAME board_a.sdr\n"
        "SET FAN1\n");
  run = NewRun(ModeForce);
  run->settings.ConsoleEcho = true;
  run->ApplySettings();
  ASSERT_EQ(SdrError::kNone, RunConfigScript(*run, "test.cfg"));
  // board_b was written last, over board_a.
  EXPECT_EQ((std::vector<std::string>{"version " + std::string(kBoardB), "BMC", "FAN2 Speed", "Board Temp"}),
            RepositoryLabels());
  EXPECT_EQ(2u, LogWith("SDR data was successfully written!").size());
  EXPECT_EQ(std::vector<std::string>{"Programming complete, reboot server for normal operation "},
            LogWith("reboot"));
  // Four records each: one comparison per record and one at each list's end.
  EXPECT_EQ(10, run->programming.verifyCount);
  EXPECT_EQ(9, run->programming.readRecordNumber);
  EXPECT_NE(std::string::npos, console.Output().find(" ----- > #8\r"));
}

TEST_F(ConfigProgramTest, CompareOfAnotherFileFailsWithCountsOfBothFiles) {
  ASSERT_EQ(32, RunScript("SDRNAME board_b.sdr COMPARE LAST\n"
                          "SDRNAME board_a.sdr\n"
                          "SET FAN1\n"));
  // board_a took comparisons 1 to 5; board_b's version text differs in its first record.
  EXPECT_EQ((std::vector<std::string>{"Verify 6 ++++++++ data error i=23 fSensData->Record[i]=48 "
                                      "eSensData->Record[i]=49"}),
            LogWith("Verify"));
  EXPECT_EQ(std::vector<std::string>{"Error, SDR file does not match with what was programmed into memory"},
            LogWith("Error"));
  EXPECT_EQ("version " + std::string(kBoardA), RepositoryLabels().at(0));
}

TEST_F(ConfigProgramTest, CompareThatDiffersWritesNothingAndStopsTheScript) {
  const std::vector<Record> before = {VendorRecord(1, "S2026120700001.00"), VendorRecord(2, "SVR0100", true)};
  bmc.LoadRecords(before);
  const uint32_t eraseStamp = bmc.EraseTimestamp();
  EXPECT_EQ(32, RunScript("SDRNAME board_a.sdr COMPARE\n"
                          "SDRNAME board_a.sdr LAST\n"));
  EXPECT_EQ(before, bmc.Records());
  EXPECT_EQ(eraseStamp, bmc.EraseTimestamp());
  EXPECT_TRUE(LogWith("Clearing SDR Repository").empty());
  EXPECT_TRUE(LogWith("Writing SDR Record").empty());
  EXPECT_FALSE(run->programming.programmed);
}

// Whole invocations.

constexpr const char* kScript =
    "CONFIGURATION \"board A\"\n"
    "SET CPU2\n"
    "SDRNAME board_a.sdr\n"
    "IFSET CPU2 // fans of the two-socket board\n"
    "  SET FAN2\n"
    "ENDIF\n";

TEST_F(ConfigProgramTest, ForceRunProgramsTheScript) {
  Write("board.cfg", kScript);
  EXPECT_EQ(0, Run({"-update", "-force", "-cfg", "board.cfg"}));
  EXPECT_EQ("Complete", Result("Update_force.xml").resultCode);
  EXPECT_EQ(kBoardASelected, RepositoryLabels());
  EXPECT_TRUE(LogHas("Loading configuration file: board A"));
  EXPECT_TRUE(LogHas("Programming complete, reboot server for normal operation "));
}

TEST_F(ConfigProgramTest, UpdateRunProgramsANewerScriptVersion) {
  bmc.LoadRecords({VendorRecord(1, "S2026120700001.00")});
  Write("board.cfg", kScript);
  EXPECT_EQ(0, Run({"-update", "-cfg", "board.cfg"}));
  EXPECT_EQ("Complete", Result("Update_normal.xml").resultCode);
  EXPECT_EQ(kBoardASelected, RepositoryLabels());
}

TEST_F(ConfigProgramTest, VersionRunComparesWithoutWriting) {
  const std::vector<Record> before = {VendorRecord(1, "S2026120700001.00")};
  bmc.LoadRecords(before);
  Write("board.cfg", kScript);
  EXPECT_EQ(0, Run({"-version", "-cfg", "board.cfg"}));
  const testsupport::ResultTree result = Result("Get_version.xml");
  EXPECT_EQ("OK", result.resultCode);
  EXPECT_EQ("Upper", result.cmp);
  EXPECT_EQ(before, bmc.Records());
}

TEST_F(ConfigProgramTest, DirectRunProgramsAfterConfirmation) {
  bmc.LoadRecords({VendorRecord(1, "S2026120700001.00")});
  Write("board.cfg", kScript);
  EXPECT_EQ(0, Run({"-direct", "-cfg", "board.cfg"}, "y\n"));
  EXPECT_EQ(kBoardASelected, RepositoryLabels());
  EXPECT_FALSE(Result("Update_normal.xml").parsed);
  EXPECT_NE(std::string::npos,
            console.Output().find("Programming complete, reboot server for normal operation "));
}

TEST_F(ConfigProgramTest, ScriptNameComesFromTheRepository) {
  bmc.LoadRecords({VendorRecord(1, "S2026120700001.00"), VendorRecord(2, "SVR0100", true)});
  Write("SVR0100.CFG", kScript);
  EXPECT_EQ(0, Run({"-update", "-force", "-cfg"}));
  EXPECT_EQ("Complete", Result("Update_force.xml").resultCode);
  EXPECT_EQ(kBoardASelected, RepositoryLabels());
}

TEST_F(ConfigProgramTest, NoScriptNameInTheRepository) {
  const std::vector<Record> before = {VendorRecord(1, "S2026120700001.00")};
  bmc.LoadRecords(before);
  EXPECT_EQ(0, Run({"-update", "-force", "-cfg"}));
  EXPECT_EQ("SDR074", Result("Update_force.xml").resultCode);
  EXPECT_TRUE(LogHas("Error, Not Found CFG filename in Repository or -cfg"));
  EXPECT_EQ(before, bmc.Records());
}

TEST_F(ConfigProgramTest, ScriptErrorEndsTheRunWithItsNumber) {
  Write("board.cfg", "SDRNAME board_a.sdr\nCLEARSDR\n");
  EXPECT_EQ(0, Run({"-update", "-force", "-cfg", "board.cfg"}));
  EXPECT_EQ("SDR011", Result("Update_force.xml").resultCode);
  EXPECT_TRUE(bmc.Records().empty());
}

}  // namespace
}  // namespace veltrop
