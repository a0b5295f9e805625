#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/sdr_parser_fixture.h"
#include "sdrtool/sdr_text/sdr_parser.h"
#include "sdrtool/sdr_text/text_file.h"
#include "tests/sdrtool/veltrop_fixture.h"

namespace veltrop {
namespace {

using programtest::Exchanges;
using programtest::Only;
using programtest::WithoutIds;
using testsupport::Record;

// Whole runs of the example SDR files against the simulated BMC.
class SdrFileRun : public VeltropFixture {
 protected:
  // The example's text, copied into the run's directory.
  std::string CopyExample(const std::string& name) {
    std::string text = testsupport::ReadFileOrEmpty(std::string(BMC_EXAMPLES_DIR) + "/" + name);
    EXPECT_FALSE(text.empty()) << name;
    Write(name, text);
    return text;
  }

  // The records the parser makes of a file, each as long as its header says.
  std::vector<Record> Parsed(const std::string& name, const SetNameList* names = nullptr) {
    auto run = NewRun(ModeNone);
    TextFile file;
    SdrRecordList records;
    EXPECT_EQ(TextFile::Opened::kOpened, file.Open(File(name))) << name;
    EXPECT_EQ(SdrError::kNone, ParseSdrText(*run, file, names, &records)) << name;
    return programtest::RecordsOf(records);
  }

  // Nothing on the BMC changed: no lock taken, nothing erased or added.
  void ExpectRepositoryUntouched(const std::vector<Record>& before) {
    EXPECT_EQ(before, bmc.Records());
    const auto all = Exchanges(bmc);
    EXPECT_TRUE(Only(all, 0xF8, 0x10).empty());  // update lock
    EXPECT_TRUE(Only(all, 0xF8, 0x13).empty());  // partial add
  }
};

TEST_F(SdrFileRun, NewerExampleReplacesTheOlderOne) {
  CopyExample("bmcsdr_v1.sdr");
  CopyExample("bmcsdr_v2.sdr");
  const std::vector<Record> v1 = Parsed("bmcsdr_v1.sdr");
  const std::vector<Record> v2 = Parsed("bmcsdr_v2.sdr");
  bmc.LoadRecords(v1);

  EXPECT_EQ(0, Run({"-version", "-sdr", "bmcsdr_v2.sdr"}));
  EXPECT_EQ("Upper", Result("Get_version.xml").cmp);

  EXPECT_EQ(0, Run({"-update", "-sdr", "bmcsdr_v2.sdr"}));
  EXPECT_EQ("Complete", Result("Update_normal.xml").resultCode);
  EXPECT_EQ(WithoutIds(v2), WithoutIds(bmc.Records()));
  EXPECT_FALSE(LogHas("Error,"));

  // Going back is a downgrade.
  EXPECT_EQ(0, Run({"-update", "-sdr", "bmcsdr_v1.sdr"}));
  EXPECT_EQ("Down Grade", Result("Update_normal.xml").resultCode);
  EXPECT_EQ(WithoutIds(v2), WithoutIds(bmc.Records()));
}

// A file cut short must not erase the repository and write part of the records.
TEST_F(SdrFileRun, TruncatedFileLeavesTheRepositoryAlone) {
  std::string text = CopyExample("bmcsdr_v1.sdr");
  const std::vector<Record> v1 = Parsed("bmcsdr_v1.sdr");
  bmc.LoadRecords(v1);
  text = CopyExample("bmcsdr_v2.sdr");
  Write("bmcsdr_v2.sdr", text.substr(0, text.rfind(')')));
  bmc.ClearLog();

  EXPECT_EQ(0, Run({"-update", "-force", "-sdr", "bmcsdr_v2.sdr"}));
  EXPECT_EQ("SDR062", Result("Update_force.xml").resultCode);
  EXPECT_TRUE(LogHas("Error, parsing SDR file"));
  ExpectRepositoryUntouched(v1);
}

// A file without records would leave the server without sensor records.
TEST_F(SdrFileRun, FileWithoutRecordsIsNotProgrammed) {
  CopyExample("bmcsdr_v1.sdr");
  const std::vector<Record> v1 = Parsed("bmcsdr_v1.sdr");
  bmc.LoadRecords(v1);
  Write("empty.sdr", programtest::SdrText({}));
  bmc.ClearLog();

  EXPECT_EQ(0, Run({"-update", "-force", "-sdr", "empty.sdr"}));
  EXPECT_EQ("SDR062", Result("Update_force.xml").resultCode);
  EXPECT_TRUE(LogHas("The SDR input holds no records"));
  EXPECT_TRUE(LogHas("Error, parsing SDR file"));
  ExpectRepositoryUntouched(v1);
}

// A device or pipe that never ends, or a file of NUL bytes, is refused instead of being read
// for ever.
TEST_F(SdrFileRun, TextThatNeverEndsIsRefused) {
  CopyExample("bmcsdr_v1.sdr");
  const std::vector<Record> v1 = Parsed("bmcsdr_v1.sdr");
  bmc.LoadRecords(v1);
  const std::string text = testsupport::ReadFileOrEmpty(File("bmcsdr_v1.sdr"));
  struct Case {
    const char* name;
    std::string content;
    const char* code;
    const char* line;
  } cases[] = {
      {"NUL bytes", std::string(4096, '\0'), "SDR070", "Error, an invalid character was found on line 1"},
      {"NUL inside a record", text.substr(0, 400) + '\0' + text.substr(400), "SDR070",
       "Error, an invalid character was found on line"},
      {"larger than 512 KiB", text.substr(0, text.rfind(')')) + std::string(600 * 1024, ' '), "SDR071",
       "Error, invalid file size."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write("odd.sdr", c.content);
    bmc.ClearLog();
    EXPECT_EQ(0, Run({"-update", "-force", "-sdr", "odd.sdr"}));
    EXPECT_EQ(c.code, Result("Update_force.xml").resultCode);
    EXPECT_TRUE(LogHas(c.line));
    ExpectRepositoryUntouched(v1);
  }
}

TEST_F(SdrFileRun, FailingRecordIsReportedWithItsNumberThenTheParse) {
  std::string text = CopyExample("bmcsdr_v2.sdr");
  const std::vector<Record> v2 = Parsed("bmcsdr_v2.sdr");
  bmc.LoadRecords(v2);
  // The fifth record's length grows past the 64 record bytes.
  size_t pos = 0;
  for (int i = 0; i < 5; ++i) pos = text.find("_REC_LEN ", pos) + 1;
  pos += 8;
  text.replace(pos, text.find('\n', pos) - pos, "41");
  Write("bad.sdr", text);
  bmc.ClearLog();

  EXPECT_EQ(0, Run({"-update", "-force", "-sdr", "bad.sdr"}));
  EXPECT_EQ("SDR057", Result("Update_force.xml").resultCode);
  const auto lines = LogLines();
  auto first = std::find(lines.begin(), lines.end(), "Error, invalid Sensor Data Record found, number 5");
  ASSERT_NE(lines.end(), first);
  ASSERT_NE(lines.end(), first + 1);
  EXPECT_EQ("Error, parsing SDR file", *(first + 1));
  ExpectRepositoryUntouched(v2);
}

}  // namespace
}  // namespace veltrop
