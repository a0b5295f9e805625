#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "tests/fwtool/korvane_fixture.h"
#include "tests/support/fault_at_exchange.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;

// A complete firmware update, run once cleanly to number its exchanges, then once for every
// exchange and every fault kind with that one fault there. Whatever happens: "Complete" only
// when the bank holds the image and the image selector names it, otherwise a defined code;
// channel 2 restored, the instance lock free, no progress or temporary file, a well-formed
// result file.
class FwFaultSweep : public KorvaneFixture {
 public:
  FwFaultSweep() : faulty(driver.get(), &clock) { env.vendorDriver = &faulty; }

  void Sweep(uint8_t deviceId, const std::vector<std::string>& args, const std::vector<uint8_t>& banks,
             uint8_t selected) {
    Machine(deviceId, {}, kDualBankSize, false);
    const Bytes image = WriteImage(0x10000 + 60);
    faulty.Disarm();
    ASSERT_EQ(Run(args), 0);
    ASSERT_EQ(Result("Update_force.xml").resultCode, "Complete") << "the clean run";
    const int exchanges = faulty.count;
    int runs = 0, violations = 0;
    for (int k = 0; k < exchanges; ++k) {
      for (const testsupport::InjectedFault& fault : testsupport::SweepFaults()) {
        Machine(deviceId, {}, kDualBankSize, false);
        platform::RemoveFile(Work("Update_force.xml"));
        faulty.Arm(k, fault);
        Run(args);
        ++runs;
        const std::string where = "exchange " + std::to_string(k) + ", " + fault.name;
        if (!Holds(image, banks, selected, where)) ++violations;
      }
    }
    std::printf("[ sweep    ] device %02X %s: %d exchanges, %d runs, %d violations\n", deviceId,
                args.size() > 1 ? args[0].c_str() : "", exchanges, runs, violations);
    EXPECT_EQ(violations, 0);
  }

  bool Holds(const Bytes& image, const std::vector<uint8_t>& banks, uint8_t selected,
             const std::string& where) {
    bool ok = true;
    auto fail = [&](const std::string& what) {
      ADD_FAILURE() << where << ": " << what;
      ok = false;
    };
    const auto result = Result("Update_force.xml");
    if (!result.parsed) fail("result file not well-formed");
    if (result.resultCode == "Complete") {
      for (uint8_t bank : banks) {
        const Bytes flash = bmc.FlashBytes(bank, image.size());
        if (!std::equal(image.begin() + 0x10000, image.end(), flash.begin() + 0x10000))
          fail("Complete, but bank " + std::to_string(bank) + " does not hold the image");
      }
      if (bmc.Selectors().imageSelector != selected) fail("Complete, but the image selector was not set");
    } else if (!std::regex_match(result.resultCode, std::regex("C([2-9]|1[0-9]|2[0-2])"))) {
      fail("undefined code " + result.resultCode);
    }
    if (!(bmc.Channel2(false) == testsupport::SimChannelAccess{})) fail("channel 2 not restored");
    if (!(bmc.Channel2(true) == testsupport::SimChannelAccess{})) fail("channel 2's stored setting changed");
    platform::LockResult lock;
    auto held = platform::TryAcquireInstanceLock(env.lockName, &lock, env.lockDir);
    if (lock != platform::LockResult::kAcquired) fail("the instance lock is not free");
    for (const std::string& d : {dir.File("prog"), dir.File("work")}) {
      for (const auto& entry : std::filesystem::directory_iterator(d)) {
        const std::string name = entry.path().filename().string();
        if (name == "Get_ratio.xml_tmp" || name.find(".~") != std::string::npos) fail("left behind: " + name);
      }
    }
    return ok;
  }

  testsupport::FaultAtExchange faulty;
};

TEST_F(FwFaultSweep, SingleBank) {
  Sweep(0x30, {"-force"}, {1}, 1);
}

TEST_F(FwFaultSweep, DualBank) {
  Sweep(0x38, {"-force"}, {2}, 2);
}

TEST_F(FwFaultSweep, DualBankBothBanks) {
  Sweep(0x38, {"-both", "-force"}, {2, 1}, 1);
}

}  // namespace
}  // namespace korvane
