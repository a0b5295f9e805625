#include <gtest/gtest.h>

#include <algorithm>
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
// back, at the commit), and another one in the cleanup it starts (in place of the discarding
// release), end the run through its one guard: the exception in the log, error 2 in the result
// file, the update lock discarded, the progress file removed, the instance lock free, and the
// repository as it was, or the new one where the commit went through before the exception.
TEST_F(InterruptedUpdate, ExceptionAtAnyExchangeEndsTheUpdateCleanly) {
  testsupport::ThrowAtExchange thrower(driver.get());
  env.vendorDriver = &thrower;
  thrower.Arm(-1);
  bmc.ClearLog();
  ASSERT_EQ(Update(), "Complete");
  const int exchanges = thrower.count;
  std::vector<std::string> log = bmc.LogLines();
  const int commit = static_cast<int>(
      std::find_if(log.begin(), log.end(),
                   [](const std::string& line) { return line.rfind("F8 10 02 ->", 0) == 0; }) -
      log.begin());
  ASSERT_LT(commit, exchanges);
  const std::string exceptionLine = std::string("Exception: ") + std::bad_alloc().what();
  for (int times : {1, 2}) {
    std::set<wire::Bytes> interrupted;
    int secondInCleanup = 0;
    for (int k = 0; k < exchanges; ++k) {
      SCOPED_TRACE("exception at exchange " + std::to_string(k) + ", " + std::to_string(times) + " in a row");
      thrower.Arm(k, times);
      bmc.ClearLog();
      EXPECT_EQ(Update(), "SDR002");
      // The lock requests by their mode, the others by their command.
      wire::Bytes request = thrower.thrownAt;
      if (request.size() > 2 && request[1] != 0x10) request.resize(2);
      interrupted.insert(request);
      if (k <= commit) {
        EXPECT_TRUE(bmc.Records() == before) << "the repository changed";
      } else {
        EXPECT_TRUE(WithoutIds(bmc.Records()) == WithoutIds(input)) << "the commit was undone";
      }
      ExpectNothingHeld();
      EXPECT_TRUE(LogHas(exceptionLine));
      EXPECT_EQ(LogLines().back(), "=== SDR Online Update end ===");
      log = bmc.LogLines();
      if (thrower.count > k + 2 && !log.empty() && log.back().rfind("F8 10 01 ->", 0) == 0) ++secondInCleanup;
    }
    // Among them: taking the lock, writing, reading back, committing, checking the commit.
    for (const wire::Bytes& request :
         {wire::Bytes{0xF8, 0x10, 0x00}, wire::Bytes{0xF8, 0x13}, wire::Bytes{0xF8, 0x12},
          wire::Bytes{0xF8, 0x10, 0x02}, wire::Bytes{0x28, 0x23}}) {
      EXPECT_EQ(interrupted.count(request), 1u) << request[1];
    }
    // The second exception took the cleanup's release wherever the lock was held; the run's
    // destructor sent it again.
    if (times == 2) {
      EXPECT_GT(secondInCleanup, exchanges / 2);
    }
  }
}

}  // namespace
}  // namespace veltrop
