#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bmcsim/model/flash_layout.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "tests/fwtool/korvane_fixture.h"
#include "tests/fwtool/update_invariants.h"
#include "tests/support/fault_at_exchange.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;

// A machine and the update it runs.
struct SweptUpdate {
  const char* name;
  uint8_t deviceId;
  std::vector<std::string> args;
  std::vector<uint8_t> banks;  // programmed, in order
  uint8_t runningBank = 1;
  bool largeChip = false;  // chip 4: 256-KiB sectors and a 256-KiB boot block
  bool wmi = false;        // through the Microsoft driver
};

// One exchange that tells Korvane its flash layout, named by its request: the n-th of its
// network function and command in the run.
struct LayoutAnswer {
  uint8_t command;
  int occurrence;
  int dataBytes;  // in the clean run's answer
};

// A complete firmware update, run once cleanly to number its exchanges, then once for every
// exchange and every fault kind with that one fault there. Whatever happens, the update's
// invariants hold (UpdateInvariants: "Complete" only with the image at each programmed bank's
// real start and the image selector on the last, otherwise a defined code; kept boot blocks and
// other banks unchanged; erases bounded; channel 2 restored); besides, the instance lock is
// free, no progress or temporary file is left and the result file is well-formed.
class FwFaultSweep : public KorvaneFixture {
 public:
  FwFaultSweep() : faulty(driver.get(), &clock) { env.vendorDriver = &faulty; }

  // A fresh machine for the update, without old firmware to keep the state small but with
  // marks that show any erase in the kept boot blocks and in the banks not programmed.
  UpdateTarget Prepare(const SweptUpdate& u) {
    testsupport::SimFirmware firmware;
    firmware.runningBank = u.runningBank;
    if (u.largeChip) {
      firmware.flashChip = 4;
      firmware.chipSizeCode = 3;
      firmware.chipSectorCode = 2;
    }
    const uint32_t unit = u.largeChip ? 0x40000 : 0x10000;
    for (uint8_t bank = 1; bank <= (bmcsim::IsDualBank(u.deviceId) ? 2 : 1); ++bank) {
      const bool programmed = std::count(u.banks.begin(), u.banks.end(), bank) > 0;
      firmware.flash[bank - 1] = EraseMarkers(bank, programmed ? unit : kDualBankSize);
    }
    Machine(u.deviceId, firmware, kDualBankSize, false);
    if (u.wmi) UseMicrosoftDriver();
    platform::RemoveFile(Work("Update_force.xml"));
    return UpdateTarget{u.banks, unit, unit};
  }
  // The update without a fault; false when it did not complete cleanly.
  bool CleanRun(const SweptUpdate& u, Bytes* image) {
    const UpdateTarget target = Prepare(u);
    *image = WriteImage(target.bootBlock + 60);
    faulty.Disarm();
    const UpdateInvariants invariants(*this, target);
    Run(u.args);
    const bool complete = Result("Update_force.xml").resultCode == "Complete";
    EXPECT_TRUE(complete) << "the clean run";
    return Holds(*image, invariants, "the clean run") && complete;
  }

  void Sweep(const SweptUpdate& u) {
    Bytes image;
    if (!CleanRun(u, &image)) return;
    const int exchanges = faulty.count;
    int runs = 0, violations = 0;
    for (int k = 0; k < exchanges; ++k) {
      for (const testsupport::InjectedFault& fault : testsupport::SweepFaults()) {
        const UpdateInvariants invariants(*this, Prepare(u));
        faulty.Arm(k, fault);
        Run(u.args);
        ++runs;
        const std::string where = "exchange " + std::to_string(k) + ", " + fault.name;
        if (!Holds(image, invariants, where)) ++violations;
      }
    }
    std::printf("[ sweep    ] %s: %d exchanges, %d runs, %d violations\n", u.name, exchanges, runs,
                violations);
    EXPECT_EQ(violations, 0);
  }

  // Every data byte of every layout answer flipped, one at a time, and every fault kind of
  // the sweep put on each layout exchange, through the simulated BMC's fault rules (the
  // Microsoft driver's path too, where a failed method call joins them).
  void SweepLayout(const SweptUpdate& u) {
    Bytes image;
    if (!CleanRun(u, &image)) return;
    const std::vector<LayoutAnswer> answers = LayoutAnswers();
    int runs = 0, violations = 0;
    for (const LayoutAnswer& answer : answers) {
      std::vector<std::pair<std::string, std::string>> faults;  // name, rule effect
      for (int i = 1; i <= answer.dataBytes; ++i)
        faults.emplace_back("data byte " + std::to_string(i) + " flipped", "flip=" + std::to_string(i));
      for (const testsupport::InjectedFault& fault : testsupport::SweepFaults()) {
        if (fault.kind != testsupport::InjectedFault::kFlippedByte)
          faults.emplace_back(fault.name, testsupport::FaultRuleEffect(fault));
      }
      if (u.wmi) faults.emplace_back("method call failed", "wmi=fail");
      char request[64];
      std::snprintf(request, sizeof request, "netfn=0x08 cmd=0x%02x skip=%d count=1 ", answer.command,
                    answer.occurrence);
      for (const auto& [name, effect] : faults) {
        const UpdateInvariants invariants(*this, Prepare(u));
        bmc.AddFault(request + effect);
        Run(u.args);
        ++runs;
        char where[96];
        std::snprintf(where, sizeof where, "08h/%02Xh #%d, %s", answer.command, answer.occurrence,
                      name.c_str());
        if (!Holds(image, invariants, where)) ++violations;
      }
    }
    std::printf("[ sweep    ] layout, %s: %zu answers, %d runs, %d violations\n", u.name, answers.size(),
                runs, violations);
    EXPECT_EQ(violations, 0);
  }

  // The last run's FW ID Chip probes before its first Firmware Erase (later ones poll the
  // erase), and its Get Firmware Image Selector and Get Firmware Image Downloader Selector
  // exchanges.
  std::vector<LayoutAnswer> LayoutAnswers() const {
    std::vector<LayoutAnswer> answers;
    int seen[8] = {};
    bool erased = false;
    for (const std::string& line : bmc.LogLines()) {
      if (line.size() < 5 || line.compare(0, 3, "20 ") != 0) continue;
      const uint8_t command = static_cast<uint8_t>(std::stoi(line.substr(3, 2), nullptr, 16));
      erased = erased || command == 0x01;
      if (!(command == 0x00 && !erased) && command != 0x05 && command != 0x07) continue;
      const size_t arrow = line.find("-> ");
      int bytes = 0;
      if (arrow != std::string::npos && line.compare(arrow + 3, 6, "status") != 0)
        bytes = static_cast<int>((line.size() - arrow - 3 + 1) / 3) - 3;
      answers.push_back(LayoutAnswer{command, seen[command]++, std::max(bytes, 0)});
    }
    return answers;
  }

  bool Holds(const Bytes& image, const UpdateInvariants& invariants, const std::string& where) {
    bool ok = true;
    auto fail = [&](const std::string& what) {
      ADD_FAILURE() << where << ": " << what << " (result " << Result("Update_force.xml").resultCode << ")";
      ok = false;
    };
    for (const std::string& broken : invariants.Broken(image)) fail(broken);
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

const SweptUpdate kSingleBank{"device 30", 0x30, {"-force"}, {1}};
const SweptUpdate kDualBank{"device 38", 0x38, {"-force"}, {2}};
const SweptUpdate kBothBanks{"device 38 -both", 0x38, {"-both", "-force"}, {2, 1}};

TEST_F(FwFaultSweep, SingleBank) {
  Sweep(kSingleBank);
}

TEST_F(FwFaultSweep, DualBank) {
  Sweep(kDualBank);
}

TEST_F(FwFaultSweep, DualBankBothBanks) {
  Sweep(kBothBanks);
}

// What the BMC says about its flash layout decides where every erase and write goes: a spoiled
// answer must end the update with its code before anything is erased in the wrong place.
TEST_F(FwFaultSweep, LayoutAnswers) {
  const SweptUpdate updates[] = {
      kSingleBank,
      kDualBank,
      kBothBanks,
      {"device 38, bank 2 running", 0x38, {"-force"}, {1}, 2},
      {"device 38, Microsoft driver", 0x38, {"-force"}, {2}, 1, false, true},
      {"device 38, 256-KiB sectors", 0x38, {"-force"}, {2}, 1, true},
  };
  for (const SweptUpdate& u : updates) {
    SCOPED_TRACE(u.name);
    SweepLayout(u);
  }
}

}  // namespace
}  // namespace korvane
