#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"

namespace veltrop {
namespace {

using programtest::Exchanges;
using programtest::MakeRecords;
using programtest::Only;
using programtest::WithoutIds;
using testsupport::Record;

// Whole updates against a BMC that acknowledges the commit of the spared repository without
// carrying it out: "Complete" only once the active repository holds the new records and the
// update lock is free; otherwise an error with the old records active and the lock free.
class RepositorySwitch : public VeltropFixture {};

TEST_F(RepositorySwitch, CommitAcknowledgedButNotDoneIsNeverComplete) {
  const std::vector<Record> old = MakeRecords(9, 40);
  const std::vector<Record> input = MakeRecords(5);
  struct Case {
    const char* name;
    std::vector<Record> repository;  // active before the update
    std::vector<std::string> rules;
    const char* code;
    bool newRecordsActive;
    std::vector<uint8_t> lockModes;  // of every lock request, in order
    const char* logLine = "Commit check:";
  } cases[] = {
      // Sent again, the commit takes effect.
      {"once", old, {"netfn=0x3e cmd=0x10 skip=1 count=1 cc=0x00"}, "Complete", true, {0x00, 0x02, 0x02}},
      // The commit is sent three times, then what it left pending is discarded.
      {"never",
       old,
       {"netfn=0x3e cmd=0x10 match=02 count=always cc=0x00"},
       "SDR077",
       false,
       {0x00, 0x02, 0x02, 0x02, 0x01}},
      // A forced update with the records the BMC uses already: they are in use, but the lock
      // the ignored commit left held is released.
      {"same records, never",
       input,
       {"netfn=0x3e cmd=0x10 match=02 count=always cc=0x00"},
       "Complete",
       true,
       {0x00, 0x02, 0x01}},
      // The same, with the repository's information (its count and time stamps) refused after
      // the commit: the records alone tell.
      {"same records, never, no information after",
       input,
       {"netfn=0x3e cmd=0x10 match=02 count=always cc=0x00",
        "netfn=0x0a cmd=0x20 skip=2 count=always cc=0xc0"},
       "Complete",
       true,
       {0x00, 0x02, 0x01},
       "Commit check: Get SDR Repository Info: completion code C0h"},
      {"done", old, {}, "Complete", true, {0x00, 0x02}},
  };
  Write("new.sdr", programtest::SdrText(input));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* file : {"Update_force.xml", "sdrversion_HW", kMainLog}) platform::RemoveFile(File(file));
    bmc.LoadRecords(c.repository);
    bmc.ClearFaults();
    bmc.ClearLog();
    for (const std::string& rule : c.rules) bmc.AddFault(rule);
    EXPECT_EQ(Run({"-update", "-force", "-sdr", "new.sdr"}), 0);

    EXPECT_EQ(Result("Update_force.xml").resultCode, c.code);
    EXPECT_FALSE(bmc.LockHeld());
    if (c.newRecordsActive) {
      EXPECT_TRUE(WithoutIds(bmc.Records()) == WithoutIds(input)) << "the new records are not in use";
    } else {
      EXPECT_TRUE(bmc.Records() == c.repository) << "the old records are not in use";
      EXPECT_TRUE(LogHas("Error, unsupported SparedSDR command on BMC"));
    }
    EXPECT_TRUE(LogHas(c.logLine)) << c.logLine;
    std::vector<uint8_t> modes;
    for (const programtest::Exchange& e : Only(Exchanges(bmc), 0xF8, 0x10)) modes.push_back(e.request[2]);
    EXPECT_EQ(modes, c.lockModes);
  }
}

}  // namespace
}  // namespace veltrop
