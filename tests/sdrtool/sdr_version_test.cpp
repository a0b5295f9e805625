#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"

namespace veltrop {
namespace {

using programtest::MakeRecords;
using programtest::SdrText;
using programtest::VersionRecord;
using testsupport::Record;

// The BMC and the file each carry a version record; a few sensor records around it.
class SdrVersion : public VeltropFixture {
 protected:
  void BmcHolds(const std::string& version) {
    std::vector<Record> records = MakeRecords(4);
    Record v = VersionRecord(version);
    v[0] = 0x40;  // its own record ID
    records.insert(records.begin() + 1, v);
    bmc.LoadRecords(records);
  }
  void FileHolds(const std::string& version) {
    std::vector<Record> records = MakeRecords(3, 7);
    records.push_back(VersionRecord(version));
    Write("new.sdr", SdrText(records));
  }
  int GetSdrRequests() const {
    int n = 0;
    for (const auto& line : bmc.LogLines()) n += line.rfind("28 23", 0) == 0;
    return n;
  }
};

TEST_F(SdrVersion, QueryComparesTheNormalisedVersions) {
  struct Case {
    const char* bmcVersion;
    const char* fileVersion;
    const char* word;
    const char* reported;  // the BMC's normalised version
  } cases[] = {
      {"S2025061800001.20", "S2026120700001.50", "Upper", "01.20"},
      {"S2026120700001.50", "S2025061800001.50", "Even", "01.50"},  // differs only before position 12
      {"S2026120700001.50", "S2026120700001.20", "Lower", "01.50"},
      {"S1.20", "S1.3", "Upper", "S1.20"},                       // short texts compare whole
      {"S2026120700001.50", "S202612070000", "Lower", "01.50"},  // 13 characters: from position 12
      // Control characters from the BMC would make the answer unreadable for the manager.
      {"S202612070000\x1b.\x01"
       "50",
       "S2026120700001.50", "Upper", "0.5"},
  };
  for (const Case& c : cases) {
    BmcHolds(c.bmcVersion);
    FileHolds(c.fileVersion);
    platform::RemoveFile(File("sdrversion_HW"));
    EXPECT_EQ(Run({"-version", "-sdr", "new.sdr"}), 0);
    auto tree = Result("Get_version.xml");
    EXPECT_EQ(tree.resultCode, "OK") << c.bmcVersion << " " << c.fileVersion;
    EXPECT_EQ(tree.cmp, c.word) << c.bmcVersion << " " << c.fileVersion;
    EXPECT_EQ(tree.version, c.reported) << c.bmcVersion << " " << c.fileVersion;
  }
}

TEST_F(SdrVersion, NormalUpdateWithAnOlderOrEqualFileIsADowngradeAndChangesNothing) {
  for (const char* fileVersion : {"S2025061800001.50", "S2026120700001.20"}) {
    BmcHolds("S2026120700001.50");
    auto before = bmc.Records();
    FileHolds(fileVersion);
    Run({"-update", "-sdr", "new.sdr"});
    auto tree = Result("Update_normal.xml");
    EXPECT_EQ(tree.resultCode, "Down Grade") << fileVersion;
    EXPECT_EQ(tree.data, "");
    EXPECT_TRUE(LogHas("SDRVersion unmatched.:Down Grade"));
    EXPECT_EQ(bmc.Records(), before);
    EXPECT_FALSE(bmc.LockHeld());
  }
}

TEST_F(SdrVersion, FileWithoutVersionRecordIsRefusedUnlessForced) {
  BmcHolds("S2025061800001.20");
  Write("new.sdr", SdrText(MakeRecords(3, 9)));
  Run({"-update", "-sdr", "new.sdr"});
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "SDRC07");
  EXPECT_TRUE(LogHas("Not Found SDRVersion Record in input file."));

  Run({"-update", "-force", "-sdr", "new.sdr"});
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
  EXPECT_EQ(bmc.Records().size(), 3u);
}

TEST_F(SdrVersion, CacheAnswersUntilTheRepositoryChanges) {
  BmcHolds("S2025061800001.20");
  FileHolds("S2026120700001.50");
  Run({"-version", "-sdr", "new.sdr"});
  EXPECT_GT(GetSdrRequests(), 0);
  std::string cache = Read("sdrversion_HW");
  EXPECT_THAT(cache, ::testing::HasSubstr("S2025061800001.20"));

  // Unchanged repository: the version comes from the cache, no record is read.
  bmc.ClearLog();
  Run({"-version", "-sdr", "new.sdr"});
  EXPECT_EQ(GetSdrRequests(), 0);
  EXPECT_EQ(Result("Get_version.xml").cmp, "Upper");

  // An update changes the repository's timestamps: the next query reads it again.
  Run({"-update", "-sdr", "new.sdr"});
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "Complete");
  bmc.ClearLog();
  Run({"-version", "-sdr", "new.sdr"});
  EXPECT_GT(GetSdrRequests(), 0);
  EXPECT_EQ(Result("Get_version.xml").cmp, "Even");
  EXPECT_THAT(Read("sdrversion_HW"), ::testing::HasSubstr("S2026120700001.50"));
}

TEST_F(SdrVersion, CacheWithoutAVersionLineCountsAsAbsent) {
  BmcHolds("S2025061800001.20");
  FileHolds("S2026120700001.50");
  Run({"-version", "-sdr", "new.sdr"});
  // Keep the matching timestamps, drop the version line.
  std::string cache = Read("sdrversion_HW");
  size_t second = cache.find('\n', cache.find('\n') + 1);
  Write("sdrversion_HW", cache.substr(0, second + 1));
  bmc.ClearLog();
  Run({"-version", "-sdr", "new.sdr"});
  EXPECT_GT(GetSdrRequests(), 0);
  EXPECT_EQ(Result("Get_version.xml").cmp, "Upper");
}

// A cache whose last line has no line end is a write that never finished (or someone else's
// file): it must not stand for the repository, which is read again and cached afresh.
TEST_F(SdrVersion, CacheWithATornLastLineIsNoCache) {
  BmcHolds("S2025061800001.20");
  FileHolds("S2026120700001.50");
  Run({"-version", "-sdr", "new.sdr"});
  const std::string cache = Read("sdrversion_HW");
  size_t second = cache.find('\n', cache.find('\n') + 1);
  Write("sdrversion_HW", cache.substr(0, second + 1) + "S2026120700001.50");
  bmc.ClearLog();
  Run({"-version", "-sdr", "new.sdr"});
  EXPECT_GT(GetSdrRequests(), 0);
  auto tree = Result("Get_version.xml");
  EXPECT_EQ(tree.cmp, "Upper");
  EXPECT_EQ(tree.version, "01.20");
  EXPECT_EQ(Read("sdrversion_HW"), cache);
}

}  // namespace
}  // namespace veltrop
