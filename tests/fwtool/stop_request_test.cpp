#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/fwtool/korvane_fixture.h"
#include "platform/instance_lock.h"
#include "tests/support/stop_at_exchange.h"
#include "tests/support/throw_at_exchange.h"

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
    EXPECT_FALSE(stopper.maintenanceOn);
    EXPECT_FALSE(platform::FileReadable(Prog("Get_ratio.xml_tmp")));
    EXPECT_LT(clock.TotalSleptMs() - sleptBefore, 10000u);
  }
}

// An exception (an allocation failing) anywhere in a flash ends the run with the code of the
// step it cut short, and every way out puts back what the run changed: channel 2, the
// driver's maintenance mode, the progress file, the instance lock; the image selector is set
// only by a pass that verified.
class KorvaneThrowing : public KorvaneFixture {
 public:
  KorvaneThrowing() { env.vendorDriver = &thrower; }
  testsupport::ThrowAtExchange thrower{driver.get()};
};

TEST_F(KorvaneThrowing, ExceptionAnywhereEndsTheFlashCleanly) {
  const struct {
    const char* where;
    uint8_t netFnByte, command;
    int occurrence;
    const char* code;
    uint8_t selector;
  } cases[] = {
      {"first ID chip probe", 0x20, 0x00, 1, "C16", 1},
      {"bank-2 address", 0x20, 0x07, 2, "C13", 1},
      {"third erase", 0x20, 0x01, 3, "C8", 1},
      {"second write", 0x20, 0x02, 2, "C9", 1},
      {"blank check past the image", 0x20, 0x03, 1, "C8", 1},
      {"second verify read", 0x20, 0x03, 9, "C10", 1},
      {"image selector", 0x20, 0x04, 1, "C12", 1},
      {"image selector read back", 0x20, 0x05, 3, "C12", 2},
      {"restoring channel 2", 0x18, 0x40, 2, "C18", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    Machine(0x38, {}, kDualBankSize, false);
    WriteImage(0x10000 + 60);
    platform::RemoveFile(Work("Update_force.xml"));
    thrower.ArmAt(c.netFnByte, c.command, c.occurrence);
    ASSERT_EQ(Run({"-force"}), 0);
    EXPECT_FALSE(thrower.thrownAt.empty());
    EXPECT_EQ(Result("Update_force.xml").resultCode, c.code);
    EXPECT_EQ(bmc.Selectors().imageSelector, c.selector);
    EXPECT_EQ(bmc.Channel2(false), testsupport::SimChannelAccess{});
    EXPECT_FALSE(thrower.maintenanceOn);
    EXPECT_FALSE(platform::FileReadable(Prog("Get_ratio.xml_tmp")));
    platform::LockResult lock;
    auto held = platform::TryAcquireInstanceLock(env.lockName, &lock, env.lockDir);
    EXPECT_EQ(lock, platform::LockResult::kAcquired);
  }
}

}  // namespace
}  // namespace korvane
