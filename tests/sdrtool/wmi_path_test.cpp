// veltrop through the simulated machine's Microsoft IPMI driver: the code-keyed retry policy, the
// marshalling and the teardown, against the simulated BMC.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"

namespace veltrop {
namespace {

using programtest::Exchange;
using programtest::Exchanges;
using programtest::MakeRecords;
using programtest::Only;
using programtest::WithoutIds;
using ::testing::Contains;
using testsupport::Record;

const std::string kFf = "-----IPMIcommand FF-Retry Completion=ff----";
const char kHighLoad[] =
    "Error, It failed in retrying of MSDriver. A high load of the system is thought as a cause";

class SdrWmiPath : public VeltropFixture {
 protected:
  SdrWmiPath() {
    UseMicrosoftDriver();
    bmc.LoadRecords(old);
    // The first record fits one Partial Add chunk: its only chunk is its last.
    Write("new.sdr", programtest::SdrText(records));
  }
  // A fresh update of the BMC as it was, with these fault rules.
  void Update(const std::vector<std::string>& rules, std::vector<std::string> extraArgs = {}) {
    bmc.LoadRecords(old);
    bmc.ClearFaults();
    bmc.ClearLog();
    for (const std::string& rule : rules) bmc.AddFault(rule);
    Write(kMainLog, "");
    std::vector<std::string> args = {"-update", "-force", "-sdr", "new.sdr"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    ASSERT_EQ(Run(args), 0);
  }
  // The retry policy's lines, in order.
  std::vector<std::string> PolicyLines() const {
    std::vector<std::string> lines;
    for (const std::string& line : LogLines())
      if (line.rfind("-----", 0) == 0) lines.push_back(line);
    return lines;
  }

  const std::vector<Record> old = MakeRecords(5, 90);
  const std::vector<Record> records = MakeRecords(12);
};

// The driver's codes under load are retried by the policy, and the repository ends up holding
// the file exactly once per record.
TEST_F(SdrWmiPath, UpdateSurvivesTheDriversCodes) {
  struct Case {
    const char* name;
    std::vector<std::string> rules;
    std::vector<std::string> lines;
    std::vector<std::string> args = {};
  } cases[] = {
      {"0xFF bursts on Partial Add and Get SDR",
       {"netfn=0x3e cmd=0x13 skip=4 count=3 cc=0xff", "netfn=0x3e cmd=0x13 skip=9 count=9 cc=0xff",
        "netfn=0x3e cmd=0x12 skip=2 count=2 cc=0xff"},
       std::vector<std::string>(14, kFf)},
      // The first sending was carried out, its answer lost: the re-send finds the record done.
      {"last chunk answered 0xC5 after 0xFF",
       {"netfn=0x3e cmd=0x13 count=1 status=10", "netfn=0x3e cmd=0x13 skip=1 count=1 cc=0xc5"},
       {kFf, "-----MSDriver Completion Code=0xc5->0x00 ----"}},
      {"erase start answered 0xC5 after 0xFF",
       {"netfn=0x3e cmd=0x14 count=1 status=10", "netfn=0x3e cmd=0x14 skip=1 count=1 cc=0xc5"},
       {kFf, "-----MSDriver Completion Code=0xc5->0x00 ----"}},
      // Without a 0xFF first it is a lost reservation: re-sent, not forgiven.
      {"0xC5 without 0xFF",
       {"netfn=0x3e cmd=0x13 count=1 cc=0xc5"},
       {"-----IPMIcommand Retry Completion=c5----"}},
      {"lock taken, answer lost, then 0xCE",
       {"netfn=0x3e cmd=0x10 match=00 count=1 status=10",
        "netfn=0x3e cmd=0x10 match=00 skip=1 count=1 cc=0xce"},
       {kFf, "-----IPMIcommand Lock-Retry Completion=ce----"}},
      {"other codes",
       {"netfn=0x0a cmd=0x20 count=3 cc=0xc0"},
       std::vector<std::string>(3, "-----IPMIcommand Retry Completion=c0----")},
      {"driver values traced once", {}, {}, {"-test"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Update(c.rules, c.args);
    EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
    EXPECT_EQ(WithoutIds(bmc.Records()), WithoutIds(records));
    EXPECT_FALSE(bmc.LockHeld());
    EXPECT_EQ(PolicyLines(), c.lines);
    const auto log = LogLines();
    EXPECT_THAT(log, Contains("Use MS Driver"));
    EXPECT_EQ(std::count(log.begin(), log.end(), "CW=15000000 IW=15000000 BW =10000000"),
              c.args.empty() ? 0 : 1);
    EXPECT_THAT(log, ::testing::Not(Contains(::testing::StartsWith("Error,"))));
  }
}

// A lock refused at once, a 0xFF budget used up, or no 0xFF retry at all: the update fails with
// its code, the repository stays as it was and no lock is left behind.
TEST_F(SdrWmiPath, CodesThePolicyGivesUpOnEndTheUpdate) {
  struct Case {
    const char* name;
    std::vector<std::string> rules;
    std::vector<std::string> args;
    const char* code;
    std::vector<std::string> lines;
  } cases[] = {
      {"0xFF budget used up",
       {"netfn=0x3e cmd=0x13 skip=3 count=11 cc=0xff"},
       {},
       "SDR079",
       [] {
         std::vector<std::string> lines(10, kFf);
         lines.push_back("-----MSDriver Completion Code=ff----");
         return lines;
       }()},
      {"smaller budget used up",
       {"netfn=0x3e cmd=0x13 skip=3 count=3 cc=0xff"},
       {"-ff_retry", "2"},
       "SDR079",
       {kFf, kFf, "-----MSDriver Completion Code=ff----"}},
      {"no 0xFF retries", {"netfn=0x3e cmd=0x13 skip=3 count=1 cc=0xff"}, {"-ff_retry", "0"}, "SDR077", {}},
      {"lock answered 0xCE at once", {"netfn=0x3e cmd=0x10 match=00 count=1 cc=0xce"}, {}, "SDR077", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Update(c.rules, c.args);
    EXPECT_EQ(Result("Update_force.xml").resultCode, c.code);
    EXPECT_EQ(bmc.Records(), old);
    EXPECT_FALSE(bmc.LockHeld());
    EXPECT_EQ(PolicyLines(), c.lines);
    EXPECT_EQ(LogHas(kHighLoad), std::string(c.code) == "SDR079");
  }
}

// A failed method call tears the path down wherever it happens: the request fails (error 29),
// the path is opened once more and the update lock released, the repository kept; a commit is
// sent once more over it, as the active repository does not show the new records.
TEST_F(SdrWmiPath, FailedMethodCallReleasesTheLock) {
  const std::vector<std::string> released = {"F8 10 01 -> FC 10 00"};
  // The lock was never taken: the BMC refuses the release, which the policy sends four times.
  const std::vector<std::string> refused(4, "F8 10 01 -> FC 10 D5");
  const std::vector<std::string> committed = {"F8 10 02 -> FC 10 00"};
  struct Case {
    const char* name;
    std::string rule;
    const std::vector<std::string>& after;  // OEM requests after the teardown
    const char* code = "SDR029";
  } cases[] = {
      {"taking the lock", "netfn=0x3e cmd=0x10 match=00 wmi=fail", refused},
      {"starting the erase", "netfn=0x3e cmd=0x14 wmi=fail", released},
      {"Partial Add", "netfn=0x3e cmd=0x13 skip=6 wmi=fail", released},
      {"reading back", "netfn=0x3e cmd=0x12 skip=3 wmi=fail", released},
      {"committing", "netfn=0x3e cmd=0x10 match=02 wmi=fail", committed, "Complete"},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Update({c.rule});
    EXPECT_EQ(Result("Update_force.xml").resultCode, c.code);
    if (std::string(c.code) == "Complete") {
      EXPECT_EQ(WithoutIds(bmc.Records()), WithoutIds(records));
    } else {
      EXPECT_EQ(bmc.Records(), old);
    }
    EXPECT_FALSE(bmc.LockHeld());
    const std::vector<std::string> lines = bmc.LogLines();
    const auto failed = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.find("-> status 10 (method call failed)") != std::string::npos;
    });
    ASSERT_NE(failed, lines.end());
    // After the teardown the discarding release went over the path opened again, and no other
    // OEM request reached the BMC.
    std::vector<std::string> oem;
    for (auto line = failed + 1; line != lines.end(); ++line)
      if (line->rfind("F8 ", 0) == 0) oem.push_back(*line);
    EXPECT_EQ(oem, c.after);
  }
  // The next run opens the driver afresh.
  Update({});
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
}

// Without the driver the vendor path carries the run, as before.
TEST_F(SdrWmiPath, MachineWithoutTheDriverUsesTheVendorDriver) {
  bmc.SetMicrosoftDriver(false);
  bmc.AddFault("netfn=0x3e cmd=0x13 wmi=fail count=always");
  ASSERT_EQ(Run({"-update", "-force", "-sdr", "new.sdr"}), 0);
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
  EXPECT_TRUE(LogHas("Use QYX Driver"));
  EXPECT_FALSE(LogHas("Use MS Driver"));
}

}  // namespace
}  // namespace veltrop
