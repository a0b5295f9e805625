#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "tests/sdrtool/veltrop_fixture.h"

namespace veltrop {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class MainFlow : public VeltropFixture {};

TEST_F(MainFlow, NoArgumentsIsAParameterErrorShownOnTheConsole) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_THAT(LogLines(),
              ElementsAre("=== SDR Online Update start ===", "SDR Online Update Tool Version 1.07",
                          "Illegal parameter format.", "=== SDR Online Update end ==="));
  // The usage follows the message, on the console only.
  EXPECT_THAT(console.Output(),
              HasSubstr("Illegal parameter format.\nUsage: veltrop MODE [INPUT] [OPTIONS]\n"));
  for (const char* f : {"Get_version.xml", "Update_normal.xml", "Update_force.xml", "Get_ratio.xml"}) {
    EXPECT_FALSE(platform::FileReadable(File(f))) << f;
  }
  EXPECT_TRUE(bmc.LogLines().empty());
  EXPECT_EQ(Run({"-update", "--help"}), 0);
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "SDRC01");
  EXPECT_THAT(console.Output(), HasSubstr("Usage: veltrop"));
  for (const std::string& line : LogLines()) EXPECT_EQ(line.find("Usage"), std::string::npos);
}

TEST_F(MainFlow, ParameterErrorGoesToTheResultFileOfTheModeParsedSoFar) {
  struct Case {
    std::vector<std::string> args;
    const char* resultFile;  // nullptr: none
    const char* log;
  } cases[] = {
      {{"-update", "-version"}, "Update_normal.xml", kMainLog},
      {{"-update", "-force", "-unknown"}, "Update_force.xml", kMainLog},
      {{"-version"}, "Get_version.xml", kVersionLog},
      {{"-version", "-sdr", "-force"}, "Get_version.xml", kVersionLog},
      {{"-bogus", "-version"}, nullptr, kMainLog},
      {{"-ratio", "-force"}, "Get_ratio.xml", kRatioLog},
      {{"-backup", "-sdr"}, nullptr, kMainLog},
      {{"-force"}, nullptr, kMainLog},
  };
  for (const Case& c : cases) {
    testsupport::TempDir caseDir;
    testsupport::ScopedCurrentDir inCase(caseDir.path());
    EXPECT_EQ(Run(c.args), 0);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    std::string log = testsupport::ReadFileOrEmpty(caseDir.File(c.log));
    EXPECT_THAT(log, HasSubstr("Illegal parameter format.")) << joined;
    for (const char* f : {"Get_version.xml", "Update_normal.xml", "Update_force.xml", "Get_ratio.xml"}) {
      auto tree = testsupport::ReadResultFile(caseDir.File(f));
      if (c.resultFile && std::string(f) == c.resultFile) {
        EXPECT_EQ(tree.resultCode, "SDRC01") << joined;
      } else {
        EXPECT_FALSE(tree.parsed) << joined << f;
      }
    }
    EXPECT_FALSE(platform::FileReadable(caseDir.File("Get_ratio.xml_tmp"))) << joined;
  }
}

TEST_F(MainFlow, VersionLogIsRotatedAboveTwoMillionBytes) {
  Write(kVersionLog, std::string(2000000, 'a'));
  Write(kVersionLogOld, "older");
  Run({"-version"});  // a parameter error still rotates
  EXPECT_EQ(Read(kVersionLogOld), "older");
  EXPECT_GT(platform::FileSize(File(kVersionLog)), 2000000);

  Write(kVersionLog, std::string(2000001, 'b'));
  Run({"-version"});
  EXPECT_EQ(platform::FileSize(File(kVersionLogOld)), 2000001);
  EXPECT_LT(platform::FileSize(File(kVersionLog)), 1000);

  // Other modes never rotate.
  Write(kVersionLog, std::string(2000001, 'c'));
  Run({"-ratio"});
  EXPECT_EQ(platform::FileSize(File(kVersionLog)), 2000001);
}

TEST_F(MainFlow, RatioWithoutUpdateAnswersNoCommandAndNeverTouchesTheBmc) {
  Run({"-ratio"});
  auto tree = Result("Get_ratio.xml");
  EXPECT_EQ(tree.resultCode, "No-Command");
  EXPECT_EQ(tree.data, "");
  EXPECT_TRUE(bmc.LogLines().empty());
  EXPECT_THAT(LogLines(kRatioLog), Contains("<<execute -ratio>>"));
}

TEST_F(MainFlow, BmcStatusCodesEndTheRun) {
  struct Case {
    const char* fault;  // rule for Get Device ID, or nullptr
    const char* mchk;   // nullptr: no mchk_fil
    const char* code;
  } cases[] = {
      {"netfn=0x06 cmd=0x01 count=always status=9", "0100", "SDRC03"},
      {"netfn=0x06 cmd=0x01 count=always cc=0xc1", "0100", "SDRC05"},
      {"netfn=0x06 cmd=0x01 count=always length=15", "0100", "SDRC05"},
      {nullptr, nullptr, "SDRC06"},
      {nullptr, "0200\n", "SDRC04"},
  };
  for (const Case& c : cases) {
    bmc.ClearFaults();
    if (c.fault) bmc.AddFault(c.fault);
    platform::RemoveFile(File("mchk_fil"));
    if (c.mchk) Write("mchk_fil", c.mchk);
    Write("x.sdr", "");
    Run({"-version", "-sdr", "x.sdr"});
    EXPECT_EQ(Result("Get_version.xml").resultCode, c.code) << c.code;
  }
}

TEST_F(MainFlow, UpdateFailingFiveSecondsInWritesItsCodeThirtySecondsAfterTheFirstOk) {
  bmc.AddFault("netfn=0x06 cmd=0x01 count=1 delay=5000");
  platform::RemoveFile(File("mchk_fil"));
  const int64_t start = clock.WallSeconds();
  Run({"-update", "-sdr", "x.sdr", "-test2"});
  auto lines = testsupport::ReadFileOrEmpty(File(kMainLog));
  // "update end" is logged when the failure is known, "result file reply" after the wait.
  size_t end = lines.find("update end");
  size_t reply = lines.find("result file reply");
  ASSERT_NE(end, std::string::npos);
  ASSERT_NE(reply, std::string::npos);
  platform::LocalTime t0 = platform::CivilFromSeconds(start + 5);
  platform::LocalTime t1 = platform::CivilFromSeconds(start + 30);
  char s0[16], s1[16];
  std::snprintf(s0, sizeof s0, "%02d:%02d:%02d", t0.hour, t0.minute, t0.second);
  std::snprintf(s1, sizeof s1, "%02d:%02d:%02d", t1.hour, t1.minute, t1.second);
  // "hh:mm:ss" and two blanks precede each text.
  EXPECT_EQ(lines.substr(end - 10, 8), s0);
  EXPECT_EQ(lines.substr(reply - 10, 8), s1);
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "SDRC06");
  EXPECT_THAT(LogLines(), Contains("OK FILE create"));
}

TEST_F(MainFlow, ManagedUpdateEndsWithTenSecondPauseAndRemovesTheProgressFile) {
  platform::RemoveFile(File("mchk_fil"));
  Run({"-update", "-sdr", "x.sdr"});
  EXPECT_FALSE(platform::FileReadable(File("Get_ratio.xml_tmp")));
  // 30-second rule (about 30 s after the first "OK") plus the 10-second pause.
  EXPECT_GE(clock.TotalSleptMs(), 40000u);
  EXPECT_LT(clock.TotalSleptMs(), 41000u);
}

TEST_F(MainFlow, ProgressFileThatCannotBeDeletedIsTriedTwelveTimes) {
  platform::RemoveFile(File("mchk_fil"));
  // A directory with content cannot be removed as a file.
  platform::MakeDirectory(File("Get_ratio.xml_tmp"));
  Write("Get_ratio.xml_tmp/keep", "x");
  Run({"-update", "-sdr", "x.sdr"});
  // 30 s rule + 10 s pause + 11 pauses of 500 ms between 12 attempts.
  EXPECT_GE(clock.TotalSleptMs(), 40000u + 5500u);
  EXPECT_LT(clock.TotalSleptMs(), 41000u + 5500u);
}

TEST_F(MainFlow, DirectModeAsksAndHonoursTheAnswer) {
  struct Case {
    const char* input;
    int prompts;
    int invalid;
    bool proceeds;
  } cases[] = {
      {"n\n", 1, 0, false},      {"N", 1, 0, false},    {"", 1, 0, false},  // end of input counts as "n"
      {"x\ny\n", 2, 1, true},    {"\nY\n", 2, 1, true},  // a bare line end is an invalid answer of its own
      {"maybe\nq", 3, 2, false},                         // two invalid answers, then input ends
  };
  bmc.LoadRecords(testsupport::RealSdr("server12.bin"));
  for (const Case& c : cases) {
    platform::RemoveFile(File("mchk_fil"));
    Write("mchk_fil", "0100");
    bmc.ClearLog();
    Write("x.sdr", "");  // reaching the programming step opens it
    Run({"-direct", "-sdr", "x.sdr"}, c.input);
    const std::string& out = console.Output();
    size_t prompts = 0, invalid = 0;
    for (size_t p = out.find("Do you really update it?[y/n]\n"); p != std::string::npos;
         p = out.find("Do you really update it?[y/n]\n", p + 1))
      ++prompts;
    for (size_t p = out.find("The input value is invalid. Please input it again. \r\n");
         p != std::string::npos;
         p = out.find("The input value is invalid. Please input it again. \r\n", p + 1))
      ++invalid;
    EXPECT_EQ(static_cast<int>(prompts), c.prompts) << c.input;
    EXPECT_EQ(static_cast<int>(invalid), c.invalid) << c.input;
    EXPECT_EQ(LogHas("failed to open the specified SDR file"), c.proceeds) << c.input;
    EXPECT_FALSE(platform::FileReadable(File("Update_normal.xml")));
    EXPECT_FALSE(platform::FileReadable(File("Get_ratio.xml_tmp")));
    platform::RemoveFile(File(kMainLog));
  }
  // No 30-second rule and no 10-second pause in operator runs.
  EXPECT_LT(clock.TotalSleptMs(), 10000u);
}

TEST_F(MainFlow, SecondUpdateIsRefusedWithDuplexAndLeavesTheProgressFileAlone) {
  platform::LockResult result;
  auto held = platform::TryAcquireInstanceLock(env.lockName, &result, env.lockDir);
  ASSERT_EQ(result, platform::LockResult::kAcquired);
  Write("Get_ratio.xml_tmp", "belongs to the running update");
  Run({"-update", "-sdr", "x.sdr"});
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "Duplex");
  EXPECT_EQ(Read("Get_ratio.xml_tmp"), "belongs to the running update");
  EXPECT_THAT(LogLines(), Contains("The update/backup has already been being executed. "));
  EXPECT_TRUE(bmc.LogLines().empty());

  Run({"-version", "-sdr", "x.sdr"});
  auto tree = Result("Get_version.xml");
  EXPECT_EQ(tree.resultCode, "Busy");
  EXPECT_EQ(Read("Get_ratio.xml_tmp"), "belongs to the running update");
}

// Looked at while the run talks to the BMC, not after it ended: an update holds the lock for
// its whole run, a version query only tests it and so never keeps an update out.
TEST_F(MainFlow, UpdateHoldsTheLockWhileAVersionQueryOnlyTestsIt) {
  struct LockProbe : transport::IpmiDriver {
    transport::IpmiDriver* inner = nullptr;
    const runcontrol::RunEnvironment* env = nullptr;
    std::vector<bool> freeDuringExchange;
    transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                       transport::IpmiResponse* response) override {
      platform::LockResult result;
      auto lock = platform::TryAcquireInstanceLock(env->lockName, &result, env->lockDir);
      freeDuringExchange.push_back(result == platform::LockResult::kAcquired);
      return inner->Exchange(request, response);
    }
  } probe;
  probe.inner = driver.get();
  probe.env = &env;
  env.vendorDriver = &probe;
  bmc.LoadRecords(testsupport::RealSdr("server12.bin"));
  Write("x.sdr", "");

  Run({"-version", "-sdr", "x.sdr"});
  ASSERT_FALSE(probe.freeDuringExchange.empty());
  EXPECT_EQ(std::count(probe.freeDuringExchange.begin(), probe.freeDuringExchange.end(), false), 0);

  probe.freeDuringExchange.clear();
  Run({"-update", "-force", "-sdr", "x.sdr"});
  ASSERT_FALSE(probe.freeDuringExchange.empty());
  EXPECT_EQ(std::count(probe.freeDuringExchange.begin(), probe.freeDuringExchange.end(), true), 0);
}

}  // namespace
}  // namespace veltrop
