#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/fwtool/korvane_fixture.h"
#include "tests/support/log_lines.h"

namespace korvane {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class RunFrame : public KorvaneFixture {};

// Started by its bare name, the program finds its files in the current directory.
TEST_F(RunFrame, FilesLieBesideTheProgramAsStarted) {
  testsupport::WriteFile(Work("mchk_fil"), "0100\n");
  EXPECT_EQ(RunAs("Korvane", {"-version"}), 0);
  EXPECT_EQ(Result("Get_version.xml").resultCode, "OK");
  EXPECT_TRUE(platform::FileReadable(Work("Korvane_log1.txt")));
  EXPECT_FALSE(platform::FileReadable(Prog("Korvane_log1.txt")));

  platform::RemoveFile(Work("mchk_fil"));
  EXPECT_EQ(Run({"-version"}), 0);  // from prog/: its own mchk_fil
  EXPECT_EQ(Result("Get_version.xml").resultCode, "OK");
  EXPECT_THAT(QueryLog(), Contains("Command : " + Prog("Korvane") + " -version "));
  EXPECT_THAT(QueryLog(), Contains("wait time : 0sec"));
  EXPECT_THAT(QueryLog(), Contains("Boot Block Update : 0  Both Update : 0"));
  EXPECT_THAT(QueryLog(), Contains("BMCFW Online Update Tool Version 2.07"));
}

// A switch error ends the run before its start line; the operator is shown how to start the
// tool, on the console only.
TEST_F(RunFrame, SwitchErrorEndsTheRunBeforeItsStartLine) {
  EXPECT_EQ(Run({"-boot", "-version"}), 0);
  EXPECT_EQ(console.Output().rfind("Illegal parameter format.\nUsage: Korvane [MODE] [OPTIONS]\n", 0), 0u);
  EXPECT_THAT(UpdateLog(), ElementsAre("Illegal parameter format."));

  for (const char* help : {"-h", "-?", "--help"}) {
    EXPECT_EQ(Run({"-normal", help}), 0);
    EXPECT_EQ(Result("Update_normal.xml").resultCode, "C1");
    EXPECT_EQ(console.Output().rfind("Usage: Korvane", 0), 0u) << help;
  }
  for (const std::string& line : UpdateLog()) EXPECT_EQ(line.find("Usage"), std::string::npos);
  EXPECT_EQ(testsupport::ReadFileOrEmpty(Work("Update_normal.xml")).find("Usage"), std::string::npos);
  EXPECT_TRUE(bmc.LogLines().empty());
}

TEST_F(RunFrame, LocalUpdateAsksFirst) {
  struct Case {
    const char* input;
    int invalid;
    bool proceeds;
  } cases[] = {{"n\n", 0, false}, {"", 0, false}, {"x\nY\n", 1, true}, {"yes\n", 0, true}};
  for (const Case& c : cases) {
    platform::RemoveFile(Prog("Korvane_log.txt"));
    EXPECT_EQ(Run({}, c.input), 0);
    const std::string& out = console.Output();
    EXPECT_EQ(out.rfind("\r\nBMCFW Online Update Tool Version 2.07 \r\nDo you really update it?[y/n]\n", 0),
              0u)
        << c.input;
    size_t invalid = 0;
    for (size_t p = out.find("The input value is invalid. Please input it again. \r\n");
         p != std::string::npos;
         p = out.find("The input value is invalid. Please input it again. \r\n", p + 1))
      ++invalid;
    EXPECT_EQ(static_cast<int>(invalid), c.invalid) << c.input;
    // Going on, the run meets the missing image and says so on the console.
    EXPECT_EQ(out.find("File open error.(bmcfw.bin)\n") != std::string::npos, c.proceeds) << c.input;
    const auto log = UpdateLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back() == "BMCFW Online Update Tool Version 2.07", !c.proceeds) << c.input;
  }
  EXPECT_FALSE(platform::FileReadable(Work("Update_normal.xml")));
  EXPECT_FALSE(platform::FileReadable(Prog("Get_ratio.xml_tmp")));
}

// Above 10,000 lines the log is moved aside; the counter starts from the file as it is.
TEST_F(RunFrame, UpdateLogRotatesAboveTenThousandLines) {
  std::string lines;
  for (int i = 0; i < 10000; ++i) lines += "2010/10/25 09:46:40  old\n";
  testsupport::WriteFile(Prog("Korvane_log.txt"), lines);
  EXPECT_EQ(Run({"-normal"}), 0);  // no image: a short run
  const auto backup = testsupport::ReadLogTexts(Prog("Korvane_log.bak"));
  ASSERT_EQ(backup.size(), 10001u);
  EXPECT_EQ(backup.back(), "=== BMC Online Update start ===");
  const auto fresh = UpdateLog();
  ASSERT_FALSE(fresh.empty());
  EXPECT_EQ(fresh.front(), "Command : " + Prog("Korvane") + " -normal ");
  EXPECT_EQ(fresh.back(), "=== BMC Online Update end ===");
}

TEST_F(RunFrame, UpdateModesWriteOkFirstAndCleanUpTheProgressFile) {
  EXPECT_EQ(Run({"-force"}), 0);  // no image file
  EXPECT_EQ(Result("Update_force.xml").resultCode, "C7");
  EXPECT_FALSE(platform::FileReadable(Prog("Get_ratio.xml_tmp")));
  EXPECT_THAT(UpdateLog(), Contains("File open error.(bmcfw.bin)"));
  EXPECT_GE(clock.TotalSleptMs(), 10000u);  // the manager reads the last ratio meanwhile
  EXPECT_TRUE(bmc.LogLines().empty());      // nothing reached the BMC

  // The ratio query copies the working file beside the program into the current directory.
  EXPECT_EQ(Run({"-ratio"}), 0);
  EXPECT_EQ(Result("Get_ratio.xml").resultCode, "No-Command");
  testsupport::WriteFile(Prog("Get_ratio.xml_tmp"), testsupport::ReadFileOrEmpty(Work("Update_force.xml")));
  EXPECT_EQ(Run({"-ratio"}), 0);
  EXPECT_EQ(Result("Get_ratio.xml").resultCode, "C7");
  EXPECT_THAT(QueryLog(), Contains("=== Get Ratio Command ==="));
}

}  // namespace
}  // namespace korvane
