#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdrtool/command_line.h"
#include "runcontrol/switch_parser.h"

namespace veltrop {
namespace {

struct Parsed {
  bool ok;
  RunSettings s;
};

Parsed Parse(std::vector<std::string> args) {
  std::vector<const char*> argv = {"veltrop"};
  for (const auto& a : args) argv.push_back(a.c_str());
  Parsed p;
  p.ok = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &p.s);
  return p;
}

TEST(CommandLine, ValidCombinations) {
  Parsed p = Parse({"-update", "-sdr", "new.sdr"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.s.mode, ModeUpdate);
  EXPECT_EQ(p.s.input, InputSdr);
  EXPECT_EQ(p.s.SdrFileName, "new.sdr");

  p = Parse({"-sdr", "x.sdr", "-update", "-force"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.s.mode, ModeForce);

  p = Parse({"-direct", "-bin"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.s.mode, ModeUpdate);
  EXPECT_TRUE(p.s.DirectMode);
  EXPECT_TRUE(p.s.ConsoleEcho);
  EXPECT_EQ(p.s.BinFileName, "BMCSDR.BIN");

  p = Parse({"-backup"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.s.mode, ModeBackup);
  EXPECT_TRUE(p.s.ConsoleEcho);
  EXPECT_EQ(p.s.BackupFileName, "BMCSDR.BAK");

  p = Parse({"-ratio"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.s.mode, ModeRatio);

  p = Parse({"-version", "-cfg", "-test", "-test2", "-display"});
  ASSERT_TRUE(p.ok);
  EXPECT_FALSE(p.s.CfgFileName.has_value());
  EXPECT_TRUE(p.s.TraceEnabled && p.s.ResultTraceEnabled && p.s.ConsoleEcho);
}

TEST(CommandLine, CapitalsAreAccepted) {
  Parsed p = Parse({"-UPDATE", "-SDR", "A.SDR", "-Force"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.s.mode, ModeForce);
  EXPECT_EQ(p.s.SdrFileName, "A.SDR");
}

TEST(CommandLine, OptionalValuesBeginningWithDashAreNotTaken) {
  Parsed p = Parse({"-sdr", "-update"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.s.SdrFileName, "BMCSDR.SDR");
  EXPECT_EQ(p.s.mode, ModeUpdate);

  // "-5" is parsed as a switch and is unknown.
  p = Parse({"-update", "-sdr", "-wait", "-5"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.s.retry.waitMs, 10000);
}

TEST(CommandLine, NumbersAreConvertedLikeTheCLibrary) {
  Parsed p =
      Parse({"-update", "-sdr", "-wait", "  250ms", "-ff_retry", "x", "-lock_wait", "+7", "-C_wait", "12"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.s.retry.waitMs, 250);
  EXPECT_EQ(p.s.retry.ffRetries, 0);
  EXPECT_EQ(p.s.retry.lockWaitSeconds, 7);
  EXPECT_EQ(p.s.retry.driverWaits.cWait, 12);
  EXPECT_EQ(p.s.retry.driverWaits.iWait, 15000000);
  EXPECT_EQ(p.s.retry.driverWaits.bWait, 10000000);
  EXPECT_EQ(runcontrol::ConvertNumber("-12"), -12);
  EXPECT_EQ(runcontrol::ConvertNumber(""), 0);
}

TEST(CommandLine, ParameterErrorsKeepTheModeParsedSoFar) {
  struct Case {
    std::vector<std::string> args;
    SdrMode mode;  // the mode whose result file receives the error
  } cases[] = {
      {{}, ModeNone},
      {{"-force"}, ModeNone},
      {{"-sdr"}, ModeNone},
      {{"-update"}, ModeUpdate},                      // no input
      {{"-version"}, ModeVersion},                    // no input
      {{"-backup", "-sdr"}, ModeBackup},              // backup takes no input
      {{"-ratio", "-force"}, ModeRatio},              // ratio takes no -force
      {{"-version", "-sdr", "-force"}, ModeVersion},  // version with -force
      {{"-update", "-sdr", "-version"}, ModeUpdate},  // second mode switch
      {{"-update", "-force", "-bogus"}, ModeForce},   // unknown argument after -force
      {{"-update", "-sdr", "-cfg"}, ModeUpdate},      // second input switch
      {{"-update", "-sdr", "a", "b"}, ModeUpdate},    // free argument
      {{"-ratio", "-update"}, ModeRatio},
  };
  for (const Case& c : cases) {
    Parsed p = Parse(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_FALSE(p.ok) << joined;
    EXPECT_EQ(p.s.mode, c.mode) << joined;
  }
}

TEST(CommandLine, ParsingStopsAtTheFirstError) {
  Parsed p = Parse({"-update", "-sdr", "-version", "-test"});
  EXPECT_FALSE(p.ok);
  EXPECT_FALSE(p.s.TraceEnabled);
}

}  // namespace
}  // namespace veltrop
