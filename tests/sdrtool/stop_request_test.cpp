#include <gtest/gtest.h>

#include <new>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"
#include "tests/support/stop_at_exchange.h"
#include "tests/support/throw_at_exchange.h"

namespace veltrop {
namespace {

using programtest::MakeRecords;
using programtest::WithoutIds;

// An update interrupted at one exchange, and what every such update must leave behind.
class InterruptedUpdate : public VeltropFixture {
 protected:
  InterruptedUpdate() {
    Write("new.sdr", programtest::SdrText(input));
    bmc.LoadRecords(before);
  }

  // A fresh update of the BMC as it was; the result code it ends with.
  std::string Update() {
    bmc.LoadRecords(before);
    platform::RemoveFile(File("Update_force.xml"));
    EXPECT_EQ(Run({"-update", "-force", "-sdr", "new.sdr"}), 0);
    const auto result = Result("Update_force.xml");
    EXPECT_TRUE(result.parsed);
    return result.resultCode;
  }

  // The BMC unlocked, no progress file, the instance lock free.
  void ExpectNothingHeld() {
    EXPECT_FALSE(bmc.LockHeld());
    EXPECT_FALSE(platform::FileReadable(File("Get_ratio.xml_tmp")));
    platform::LockResult lock;
    auto held = platform::TryAcquireInstanceLock(env.lockName, &lock, env.lockDir);
    EXPECT_EQ(lock, platform::LockResult::kAcquired);
  }

  const std::vector<testsupport::Record> before = MakeRecords(2, 40);
  const std::vector<testsupport::Record> input = MakeRecords(3);
};

// Ctrl-C or a termination request at any moment of an update: the run stops at its next safe
// point, discards what it wrote, answers with a code, removes its progress file and does not
// make the manager wait for the 30-second rule or the end pause.
TEST_F(InterruptedUpdate, StopRequestAtAnyExchangeEndsTheUpdateCleanly) {
  testsupport::StopAtExchange stopper(driver.get());
  env.vendorDriver = &stopper;
  stopper.Arm(-1);
  ASSERT_EQ(Update(), "Complete");
  const int exchanges = stopper.count;
  for (int k = 0; k < exchanges; ++k) {
    SCOPED_TRACE("stop at exchange " + std::to_string(k));
    stopper.Arm(k);
    const uint64_t sleptBefore = clock.TotalSleptMs();
    const std::string code = Update();
    if (code == "Complete") {
      EXPECT_EQ(WithoutIds(bmc.Records()), WithoutIds(input));
    } else {
      EXPECT_TRUE(std::regex_match(code, std::regex("SDR[0-9]{3}"))) << code;
      EXPECT_EQ(bmc.Records(), before);
    }
    ExpectNothingHeld();
    EXPECT_LT(clock.TotalSleptMs() - sleptBefore, 10000u);
    EXPECT_TRUE(LogHas("Stop requested: the run ends at this safe point and cleans up."));
  }
}

// An exception at any exchange of an update (a failed allocation while writing, while reading
// back, at the commit) ends the run through its one catch: the exception in the log, error 2
// in the result file, the update lock discarded, the repository as it was, the progress file
// removed, the instance lock free.
TEST_F(InterruptedUpdate, ExceptionAtAnyExchangeEndsTheUpdateCleanly) {
  testsupport::ThrowAtExchange thrower(driver.get());
  env.vendorDriver = &thrower;
  thrower.Arm(-1);
  ASSERT_EQ(Update(), "Complete");
  const int exchanges = thrower.count;
  const std::string exceptionLine = std::string("Exception: ") + std::bad_alloc().what();
  std::set<wire::Bytes> interrupted;
  for (int k = 0; k < exchanges; ++k) {
    SCOPED_TRACE("exception at exchange " + std::to_string(k));
    thrower.Arm(k);
    EXPECT_EQ(Update(), "SDR002");
    // The lock requests by their mode, the others by their command.
    wire::Bytes request = thrower.thrownAt;
    if (request.size() > 2 && request[1] != 0x10) request.resize(2);
    interrupted.insert(request);
    EXPECT_EQ(bmc.Records(), before);
    ExpectNothingHeld();
    EXPECT_TRUE(LogHas(exceptionLine));
    EXPECT_EQ(LogLines().back(), "=== SDR Online Update end ===");
  }
  // Among them: taking the lock, writing, reading back, committing.
  for (const wire::Bytes& request : {wire::Bytes{0xF8, 0x10, 0x00}, wire::Bytes{0xF8, 0x13},
                                     wire::Bytes{0xF8, 0x12}, wire::Bytes{0xF8, 0x10, 0x02}}) {
    EXPECT_EQ(interrupted.count(request), 1u) << request[1];
  }
}

}  // namespace
}  // namespace veltrop
