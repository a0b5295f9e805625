#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"
#include "tests/support/fault_at_exchange.h"

namespace veltrop {
namespace {

using programtest::MakeRecords;
using programtest::WithoutIds;
using testsupport::Record;

// A complete SDR update, run once cleanly to number its exchanges, then once for every exchange
// and every fault kind with that one fault there. Whatever happens: "Complete" only when the
// repository holds the input, otherwise a defined code and the repository as it was; the BMC
// unlocked, the instance lock free, no progress or temporary file, a well-formed result file.
class SdrFaultSweep : public VeltropFixture {
 public:
  SdrFaultSweep() : faulty(driver.get(), &clock) { env.vendorDriver = &faulty; }

  void Sweep(const std::vector<std::string>& args) {
    const std::vector<Record> before = bmc.Records();
    Prepare(before);
    faulty.Disarm();
    ASSERT_EQ(Run(args), 0);
    ASSERT_EQ(Result("Update_force.xml").resultCode, "Complete") << "the clean run";
    const int exchanges = faulty.count;
    ASSERT_GT(exchanges, 10);
    int runs = 0, violations = 0;
    for (int k = 0; k < exchanges; ++k) {
      for (const testsupport::InjectedFault& fault : testsupport::SweepFaults()) {
        Prepare(before);
        faulty.Arm(k, fault);
        Run(args);
        ++runs;
        const std::string where = "exchange " + std::to_string(k) + ", " + fault.name;
        if (!Holds(before, where)) ++violations;
      }
    }
    std::printf("[ sweep    ] %s: %d exchanges, %d runs, %d violations\n", args.back().c_str(), exchanges,
                runs, violations);
    EXPECT_EQ(violations, 0);
  }

  void Prepare(const std::vector<Record>& before) {
    bmc.ClearFaults();
    bmc.LoadRecords(before);
    for (const char* f : {"Update_force.xml", "sdrversion_HW", kMainLog}) platform::RemoveFile(File(f));
  }

  bool Holds(const std::vector<Record>& before, const std::string& where) {
    bool ok = true;
    auto fail = [&](const std::string& what) {
      ADD_FAILURE() << where << ": " << what;
      ok = false;
    };
    const auto result = Result("Update_force.xml");
    if (!result.parsed) fail("result file not well-formed");
    const auto records = bmc.Records();
    if (result.resultCode == "Complete") {
      if (WithoutIds(records) != WithoutIds(input))
        fail("Complete, but the repository does not hold the input");
    } else {
      if (!std::regex_match(result.resultCode, std::regex("SDR[0-9]{3}|SDRC0[1-8]")))
        fail("undefined code " + result.resultCode);
      if (records != before) fail(result.resultCode + ", but the repository changed");
    }
    if (bmc.LockHeld()) fail("the BMC's update lock is held");
    platform::LockResult lock;
    auto held = platform::TryAcquireInstanceLock(env.lockName, &lock, env.lockDir);
    if (lock != platform::LockResult::kAcquired) fail("the instance lock is not free");
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      const std::string name = entry.path().filename().string();
      if (name == "Get_ratio.xml_tmp" || name.find(".~") != std::string::npos) fail("left behind: " + name);
    }
    return ok;
  }

  testsupport::FaultAtExchange faulty;
  std::vector<Record> input = MakeRecords(3);
};

TEST_F(SdrFaultSweep, SdrFile) {
  bmc.LoadRecords(MakeRecords(2, 40));
  Write("new.sdr", programtest::SdrText(input));
  Sweep({"-update", "-force", "-sdr", "new.sdr"});
}

TEST_F(SdrFaultSweep, ConfigurationScript) {
  bmc.LoadRecords(MakeRecords(2, 40));
  Write("new.sdr", programtest::SdrText(input));
  Write("board.cfg", "SDRNAME new.sdr\n");
  Sweep({"-update", "-force", "-cfg", "board.cfg"});
}

TEST_F(SdrFaultSweep, BackupImage) {
  bmc.LoadRecords(input);
  faulty.Disarm();
  ASSERT_EQ(Run({"-backup", "new.bin"}), 0);
  ASSERT_TRUE(platform::FileReadable(File("new.bin")));
  bmc.LoadRecords(MakeRecords(2, 40));
  Sweep({"-update", "-force", "-bin", "new.bin"});
}

}  // namespace
}  // namespace veltrop
