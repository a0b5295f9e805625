#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"
#include "tests/support/stop_at_exchange.h"

namespace veltrop {
namespace {

using programtest::MakeRecords;
using programtest::WithoutIds;

// Ctrl-C or a termination request at any moment of an update: the run stops at its next safe
// point, discards what it wrote, answers with a code, removes its progress file and does not
// make the manager wait for the 30-second rule or the end pause.
TEST_F(VeltropFixture, StopRequestAtAnyExchangeEndsTheUpdateCleanly) {
  testsupport::StopAtExchange stopper(driver.get());
  env.vendorDriver = &stopper;
  const auto before = MakeRecords(2, 40);
  const auto input = MakeRecords(3);
  Write("new.sdr", programtest::SdrText(input));
  bmc.LoadRecords(before);
  stopper.Arm(-1);
  ASSERT_EQ(Run({"-update", "-force", "-sdr", "new.sdr"}), 0);
  const int exchanges = stopper.count;
  for (int k = 0; k < exchanges; ++k) {
    SCOPED_TRACE("stop at exchange " + std::to_string(k));
    bmc.LoadRecords(before);
    platform::RemoveFile(File("Update_force.xml"));
    stopper.Arm(k);
    const uint64_t sleptBefore = clock.TotalSleptMs();
    ASSERT_EQ(Run({"-update", "-force", "-sdr", "new.sdr"}), 0);
    const auto result = Result("Update_force.xml");
    ASSERT_TRUE(result.parsed);
    if (result.resultCode == "Complete") {
      EXPECT_EQ(WithoutIds(bmc.Records()), WithoutIds(input));
    } else {
      EXPECT_TRUE(std::regex_match(result.resultCode, std::regex("SDR[0-9]{3}"))) << result.resultCode;
      EXPECT_EQ(bmc.Records(), before);
    }
    EXPECT_FALSE(bmc.LockHeld());
    EXPECT_FALSE(platform::FileExists(File("Get_ratio.xml_tmp")));
    EXPECT_LT(clock.TotalSleptMs() - sleptBefore, 10000u);
    EXPECT_TRUE(LogHas("Stop requested: the run ends at this safe point and cleans up."));
  }
}

}  // namespace
}  // namespace veltrop
