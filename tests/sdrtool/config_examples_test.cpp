#include <algorithm>
#include <string>
#include <vector>

#include "tests/sdrtool/veltrop_fixture.h"

namespace veltrop {
namespace {

using testsupport::Record;

// The example scripts and SDR files, copied into the run's directory.
class ConfigExamplesTest : public VeltropFixture {
 protected:
  ConfigExamplesTest() {
    for (const char* name : {"SVR0100.CFG", "program_and_check.cfg", "bmcsdr_tagged.sdr"})
      Write(name, testsupport::ReadFileOrEmpty(std::string(BMC_EXAMPLES_DIR) + "/" + name));
  }

  // True when a record of the repository carries the text (a sensor's ID string).
  bool RepositoryHolds(const std::string& text) const {
    for (const Record& r : bmc.Records()) {
      if (std::search(r.begin(), r.end(), text.begin(), text.end()) != r.end()) return true;
    }
    return false;
  }
};

// The repository of an older SVR0100 table: its version and configuration name records.
const std::vector<Record> kOlderTable = {
    {0x01, 0x00, 0x51, 0xC0, 0x14, 0x2D, 0x9B, 0x4E, 'S', '2', '0', '2', '5',
     '0',  '6',  '1',  '8',  '0',  '0',  '0',  '0',  '1', '.', '2', '0'},
    {0x02, 0x00, 0x51, 0xC0, 0x0B, 0x2D, 0x9B, 0x4E, 0x16, 'S', 'V', 'R', '0', '1', '0', '0'},
};

TEST_F(ConfigExamplesTest, BoardVariantScriptFoundThroughTheRepository) {
  bmc.LoadRecords(kOlderTable);
  EXPECT_EQ(0, Run({"-update", "-cfg"}));
  EXPECT_EQ("Complete", Result("Update_normal.xml").resultCode);
  for (const char* selected : {"BMC", "P2 Status", "Sys Fan 1", "Sys Fan 3", "Sys Fan 4", "PS2 Power In"})
    EXPECT_TRUE(RepositoryHolds(selected)) << selected;
  EXPECT_FALSE(RepositoryHolds("HDD 4 Status"));
  EXPECT_TRUE(LogHas("redundant power: PS2 sensors selected"));
  EXPECT_FALSE(LogHas("8-bay drive cage"));
}

TEST_F(ConfigExamplesTest, ProgramAndCheckWritesThenCompares) {
  EXPECT_EQ(0, Run({"-update", "-force", "-cfg", "program_and_check.cfg"}));
  EXPECT_EQ("Complete", Result("Update_force.xml").resultCode);
  EXPECT_TRUE(RepositoryHolds("HDD 7 Status"));
  EXPECT_TRUE(RepositoryHolds("Sys Fan 2"));
  EXPECT_FALSE(RepositoryHolds("Sys Fan 4"));
  EXPECT_FALSE(RepositoryHolds("P2 Status"));
  EXPECT_TRUE(LogHas("SDR data was successfully written!"));
  EXPECT_TRUE(LogHas("SDR data was successfully compared!"));
}

}  // namespace
}  // namespace veltrop
