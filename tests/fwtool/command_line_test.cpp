#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fwtool/command_line.h"

namespace korvane {
namespace {

struct Parsed {
  bool ok;
  FwSettings s;
};

Parsed Parse(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"Korvane.exe"};
  for (const auto& a : args) argv.push_back(a.c_str());
  Parsed p;
  p.ok = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &p.s);
  return p;
}

// Each rule looks only at the switches before it.
TEST(KorvaneCommandLine, RulesLookOnlyAtEarlierSwitches) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    RunMode mode;
  } cases[] = {
      {{}, true, RunMode::LocalUpdate},
      {{"-NORMAL"}, true, RunMode::UpdateNormal},
      {{"-version", "-both"}, true, RunMode::GetVersion},
      {{"-both", "-version"}, false, RunMode::LocalUpdate},
      {{"-boot", "-ratio"}, false, RunMode::LocalUpdate},
      {{"-ratio", "-boot"}, true, RunMode::GetRatio},
      {{"-boot", "-force", "-both"}, true, RunMode::UpdateForce},
      {{"-normal", "-force"}, false, RunMode::UpdateNormal},
      {{"-both", "-both"}, false, RunMode::LocalUpdate},
      {{"-boot", "-boot"}, false, RunMode::LocalUpdate},
      {{"-16", "-16", "-normal"}, true, RunMode::UpdateNormal},
      {{"-normal", "extra"}, false, RunMode::UpdateNormal},
      {{"-wait", "5", "-force"}, true, RunMode::UpdateForce},
      {{"-WAIT", "5"}, false, RunMode::LocalUpdate},  // -wait must be written in lower case
      {{"-force", "-wait"}, false, RunMode::UpdateForce},
      {{"-wait", "1", "-wait", "2"}, false, RunMode::LocalUpdate},
      {{"-normal", "-wait", "-3"}, false, RunMode::UpdateNormal},  // negative
      {{"-wait", "7s"}, false, RunMode::LocalUpdate},
      {{"-wait", "99999999999"}, false, RunMode::LocalUpdate},  // beyond 32 bits
  };
  for (const Case& c : cases) {
    std::string name;
    for (const auto& a : c.args) name += a + " ";
    Parsed p = Parse(c.args);
    EXPECT_EQ(p.ok, c.ok) << name;
    EXPECT_EQ(p.s.mode, c.mode) << name;
  }
  Parsed p = Parse({"-both", "-16", "-wait", "007", "-boot", "-force"});
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(p.s.BothUpdate && p.s.BootBlockUpdate);
  EXPECT_EQ(p.s.BlockSize, 16u);
  EXPECT_EQ(p.s.WaitSeconds, 7);
}

TEST(KorvaneCommandLine, WaitSecondsRefuseTextAfterTheNumber) {
  struct Case {
    const char* text;
    int64_t value;
  } cases[] = {
      {"05", 5},
      {"12a", -1},
      {"-3", -3},
      {"", 0},
      {"0", 0},
      {" 5", 5},
      {"5 ", -1},
      {"-0", -1},
      {"2147483647", 2147483647},
      {"2147483648", -2},
      {"x", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseWaitSeconds(c.text), c.value) << "'" << c.text << "'";
}

}  // namespace
}  // namespace korvane
