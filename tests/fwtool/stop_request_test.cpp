#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/fwtool/korvane_fixture.h"
#include "tests/support/stop_at_exchange.h"

namespace korvane {
namespace {

// Ctrl-C or a termination request at any moment of a flash: the pass stops between chunks,
// the image selector is not set, channel 2 and the driver's maintenance mode are restored, the
// progress file goes and nobody waits for the end pause.
TEST_F(KorvaneFixture, StopRequestAtAnyExchangeEndsTheFlashCleanly) {
  testsupport::StopAtExchange stopper(driver.get());
  env.vendorDriver = &stopper;
  Machine(0x38, {}, kDualBankSize, false);
  const std::vector<uint8_t> image = WriteImage(0x10000 + 60);
  stopper.Arm(-1);
  ASSERT_EQ(Run({"-force"}), 0);
  const int exchanges = stopper.count;
  for (int k = 0; k < exchanges; ++k) {
    SCOPED_TRACE("stop at exchange " + std::to_string(k));
    Machine(0x38, {}, kDualBankSize, false);
    platform::RemoveFile(Work("Update_force.xml"));
    stopper.Arm(k);
    const uint64_t sleptBefore = clock.TotalSleptMs();
    ASSERT_EQ(Run({"-force"}), 0);
    const auto result = Result("Update_force.xml");
    ASSERT_TRUE(result.parsed);
    if (result.resultCode == "Complete") {
      EXPECT_EQ(bmc.Selectors().imageSelector, 2);
    } else {
      EXPECT_TRUE(std::regex_match(result.resultCode, std::regex("C([2-9]|1[0-9]|2[0-2])")))
          << result.resultCode;
      EXPECT_EQ(bmc.Selectors().imageSelector, 1);
    }
    EXPECT_EQ(bmc.Channel2(false), testsupport::SimChannelAccess{});
    EXPECT_FALSE(platform::FileExists(Prog("Get_ratio.xml_tmp")));
    EXPECT_LT(clock.TotalSleptMs() - sleptBefore, 10000u);
  }
}

}  // namespace
}  // namespace korvane
