#include <gtest/gtest.h>

#include <algorithm>
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
using testsupport::InjectedFault;
using testsupport::Record;

// Answers 00h without data and passes nothing on: a BMC that acknowledges a request it never
// carries out. Armed at one exchange, and with onwards at every later request of the same
// command (of the same mode, for the update lock), as a BMC that drops them all.
class NothingDone : public transport::IpmiDriver {
 public:
  explicit NothingDone(transport::IpmiDriver* inner) : inner_(inner) {}
  void Arm(int index, bool onwards) {
    index_ = index;
    onwards_ = onwards;
    count = 0;
    key_.clear();
  }
  int count = 0;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    const bool lock = request.length >= 3 && request.bytes[0] == 0xF8 && request.bytes[1] == 0x10;
    const std::vector<uint8_t> key(request.bytes, request.bytes + (lock ? 3 : 2));
    const bool armed = count++ == index_;
    if (armed && onwards_) key_ = key;
    if (!armed && (key_.empty() || key != key_)) return inner_->Exchange(request, response);
    response->bytes[0] = static_cast<uint8_t>(request.bytes[0] + 4);
    response->bytes[1] = request.bytes[1];
    response->bytes[2] = 0x00;
    response->length = 3;
    return transport::kExchangeOk;
  }
  bool HoldMaintenanceMode(bool on) override { return inner_->HoldMaintenanceMode(on); }

 private:
  transport::IpmiDriver* inner_;
  int index_ = -1;
  bool onwards_ = false;
  std::vector<uint8_t> key_;
};

// A complete SDR update, run once cleanly to number its exchanges, then once for every swept
// exchange (SweptExchanges) and every fault kind with that one fault there, and once for every
// swept exchange with 00h and nothing done there and at every later request of the same command. Whatever
// happens: "Complete" only when the active repository holds the input; otherwise a defined code and the
// repository as it was (or the new one, where a fault that began after the commit kept the run
// from confirming it); the BMC unlocked, the instance lock free, no progress or temporary file,
// a well-formed result file.
class SdrFaultSweep : public VeltropFixture {
 public:
  SdrFaultSweep() : faulty(driver.get(), &clock), nothingDone(&faulty) { env.vendorDriver = &nothingDone; }

  void Sweep(const std::vector<std::string>& args) {
    const std::vector<Record> before = bmc.Records();
    Prepare(before);
    Disarm();
    bmc.ClearLog();
    ASSERT_EQ(Run(args), 0);
    ASSERT_EQ(Result("Update_force.xml").resultCode, "Complete") << "the clean run";
    const int exchanges = nothingDone.count;
    ASSERT_GT(exchanges, 10);
    const std::vector<std::string> log = bmc.LogLines();
    const int commit = static_cast<int>(
        std::find_if(log.begin(), log.end(),
                     [](const std::string& line) { return line.rfind("F8 10 02 ->", 0) == 0; }) -
        log.begin());
    ASSERT_LT(commit, exchanges);

    std::vector<InjectedFault> faults = testsupport::SweepFaults();
    faults.push_back({InjectedFault::kCompletion, 0x00, "cc 00, nothing done"});
    EXPECT_EQ(static_cast<int>(log.size()), exchanges);
    const std::vector<int> swept = testsupport::SweptExchanges(log);
    int runs = 0, violations = 0;
    for (int k : swept) {
      for (size_t f = 0; f <= faults.size(); ++f) {
        Prepare(before);
        const bool onwards = f == faults.size();
        Disarm();
        if (onwards) {
          nothingDone.Arm(k, true);
        } else {
          faulty.Arm(k, faults[f]);
        }
        Run(args);
        ++runs;
        const std::string where = "exchange " + std::to_string(k) + ", " +
                                  (onwards ? "cc 00, nothing done, from here on" : faults[f].name);
        if (!Holds(before, k > commit, where)) ++violations;
      }
    }
    std::printf("[ sweep    ] %s: %d exchanges, %zu swept, %d runs, %d violations\n", args.back().c_str(),
                exchanges, swept.size(), runs, violations);
    EXPECT_EQ(violations, 0);
  }

  void Disarm() {
    faulty.Disarm();
    nothingDone.Arm(-1, false);
  }

  void Prepare(const std::vector<Record>& before) {
    bmc.ClearFaults();
    bmc.LoadRecords(before);
    for (const char* f : {"Update_force.xml", "sdrversion_HW", kMainLog}) platform::RemoveFile(File(f));
  }

  bool Holds(const std::vector<Record>& before, bool afterCommit, const std::string& where) {
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
      if (records != before && !(afterCommit && WithoutIds(records) == WithoutIds(input)))
        fail(result.resultCode + ", but the repository changed");
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
  NothingDone nothingDone;
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
