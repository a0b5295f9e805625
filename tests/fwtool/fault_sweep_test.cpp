#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bmcsim/model/flash_layout.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "tests/fwtool/korvane_fixture.h"
#include "tests/fwtool/update_invariants.h"
#include "tests/support/fault_at_exchange.h"
#include "wire/hex_text.h"

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

// One exchange whose answer decides where Korvane writes or what it restores, named by its
// request: the n-th of its network function and command (and chip index) in the run.
struct LayoutAnswer {
  uint8_t netFn;
  uint8_t command;
  std::string match;  // the FW ID Chip probe's index, for the rules that name one
  int occurrence;
  int dataBytes;  // in the clean run's answer
};

// The sweep's faults and one more: an answer of 00h to a request that was not carried out, as a
// BMC gives that queued a command and dropped it.
std::vector<testsupport::InjectedFault> FwSweepFaults() {
  std::vector<testsupport::InjectedFault> faults = testsupport::SweepFaults();
  faults.push_back({testsupport::InjectedFault::kCompletion, 0x00, "cc 00, not carried out"});
  return faults;
}

// A complete firmware update, run once cleanly to number its exchanges, then once for every
// swept exchange (SweptExchanges) and every fault kind with that one fault there. Whatever happens, the
// update's invariants hold (UpdateInvariants: "Complete" only with the image at each programmed bank's real
// start and the image selector on the last, otherwise a defined code; kept boot blocks and other banks
// unchanged; erases bounded; channel 2 restored); besides, the instance lock is free, no progress or
// temporary file is left and the result file is well-formed.
class FwFaultSweep : public KorvaneFixture {
 public:
  FwFaultSweep() : faulty(driver.get(), &clock) { env.vendorDriver = &faulty; }

  // A fresh machine for the update, without old firmware to keep the state small but with
  // marks that show any erase (or any erase missed) in every erase unit of its banks.
  UpdateTarget Prepare(const SweptUpdate& u) {
    testsupport::SimFirmware firmware;
    firmware.runningBank = u.runningBank;
    if (u.largeChip) {
      firmware.flashChip = 4;
      firmware.chipSizeCode = 3;
      firmware.chipSectorCode = 2;
    }
    const uint32_t unit = u.largeChip ? 0x40000 : 0x10000;
    const bool dual = bmcsim::IsDualBank(u.deviceId);
    // The same marks for every run of a sweep: made once.
    static const std::vector<uint8_t> kMarks[2][2] = {
        {EraseMarkers(1, kSingleBankSize), {}},
        {EraseMarkers(1, kDualBankSize), EraseMarkers(2, kDualBankSize)}};
    for (uint8_t bank = 1; bank <= (dual ? 2 : 1); ++bank) firmware.flash[bank - 1] = kMarks[dual][bank - 1];
    Machine(u.deviceId, std::move(firmware), kDualBankSize, false);
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
    // The simulated BMC logs every exchange the sweep's driver passed on, in the same order.
    const std::vector<std::string> log = bmc.LogLines();
    EXPECT_EQ(static_cast<int>(log.size()), exchanges);
    int runs = 0, violations = 0;
    const std::vector<int> swept = testsupport::SweptExchanges(log);
    for (int k : swept) {
      for (const testsupport::InjectedFault& fault : FwSweepFaults()) {
        const UpdateInvariants invariants(*this, Prepare(u));
        faulty.Arm(k, fault);
        Run(u.args);
        ++runs;
        const std::string where = "exchange " + std::to_string(k) + ", " + fault.name;
        if (!Holds(image, invariants, where)) ++violations;
      }
    }
    std::printf("[ sweep    ] %s: %d exchanges, %zu swept, %d runs, %d violations\n", u.name, exchanges,
                swept.size(), runs, violations);
    EXPECT_EQ(violations, 0);
  }

  // The answers that decide where Korvane writes or what it restores (Get Device ID, the FW ID
  // Chip probes, both firmware selectors, Get Channel Access), spoiled one at a time through the
  // simulated BMC's fault rules (the Microsoft driver's path too, where a failed method call
  // joins them): every data byte flipped whole, and with bitFlips every single bit of it (in the
  // first of each two asks); every fault kind of the sweep on the firmware's answers; and the
  // same refusal for both asks of every question.
  void SweepLayout(const SweptUpdate& u, bool bitFlips) {
    Bytes image;
    if (!CleanRun(u, &image)) return;
    const std::vector<LayoutAnswer> answers = LayoutAnswers();
    std::vector<std::pair<std::string, std::string>> rows;  // what, rule
    std::set<std::string> questions;
    for (const LayoutAnswer& answer : answers) {
      char request[64];
      std::snprintf(request, sizeof request, "netfn=0x%02x cmd=0x%02x skip=%d count=1 ", answer.netFn,
                    answer.command, answer.occurrence);
      char where[48];
      std::snprintf(where, sizeof where, "%02Xh/%02Xh #%d, ", answer.netFn, answer.command,
                    answer.occurrence);
      for (int i = 1; i <= answer.dataBytes; ++i) {
        rows.emplace_back(where + std::string("data byte ") + std::to_string(i) + " flipped",
                          request + std::string("flip=") + std::to_string(i));
        // A question asked twice compares its answers: one bit off in the first ask stands for
        // either.
        for (int bit = 0; bitFlips && answer.occurrence % 2 == 0 && bit < 8; ++bit) {
          char effect[24];
          std::snprintf(effect, sizeof effect, "flip=%d:%02X", i, 1 << bit);
          rows.emplace_back(where + std::string(effect), request + std::string(effect));
        }
      }
      // The other fault kinds on the firmware's own answers; Get Device ID and Get Channel
      // Access meet them in every exchange of the whole-run sweeps.
      for (const testsupport::InjectedFault& fault : FwSweepFaults()) {
        if (fault.kind != testsupport::InjectedFault::kFlippedByte && answer.netFn == 0x08)
          rows.emplace_back(where + std::string(fault.name), request + testsupport::FaultRuleEffect(fault));
      }
      if (u.wmi)
        rows.emplace_back(where + std::string("method call failed"), request + std::string("wmi=fail"));
      // The same refusal for the first two asks of the question (of that chip index).
      char twice[80];
      std::snprintf(twice, sizeof twice, "netfn=0x%02x cmd=0x%02x %scount=2 cc=0xD5", answer.netFn,
                    answer.command, answer.match.empty() ? "" : ("match=" + answer.match + " ").c_str());
      if (questions.insert(twice).second) rows.emplace_back(std::string(twice) + ", refused twice", twice);
    }
    int runs = 0, violations = 0;
    for (const auto& [name, rule] : rows) {
      const UpdateInvariants invariants(*this, Prepare(u));
      bmc.AddFault(rule);
      Run(u.args);
      ++runs;
      if (!Holds(image, invariants, name)) ++violations;
    }
    std::printf("[ sweep    ] layout, %s: %zu answers, %d runs, %d violations\n", u.name, answers.size(),
                runs, violations);
    EXPECT_EQ(violations, 0);
  }

  // The last run's answers that decide where to write or what to restore: Get Device ID, Get
  // Channel Access, the FW ID Chip probes before its first Firmware Erase (later ones poll the
  // erase), Get Firmware Image Selector and Get Firmware Image Downloader Selector.
  std::vector<LayoutAnswer> LayoutAnswers() const {
    std::vector<LayoutAnswer> answers;
    std::map<std::pair<uint8_t, uint8_t>, int> seen;
    bool erased = false;
    for (const std::string& line : bmc.LogLines()) {
      wire::Bytes request;
      const size_t arrow = line.find(" -> ");
      if (arrow == std::string::npos || !wire::ParseHexBytes(line.substr(0, arrow), &request) ||
          request.size() < 2)
        continue;
      const uint8_t netFn = request[0] >> 2, command = request[1];
      erased = erased || (netFn == 0x08 && command == 0x01);
      const bool app = netFn == 0x06 && (command == 0x01 || command == 0x41);
      const bool firmware =
          netFn == 0x08 && ((command == 0x00 && !erased) || command == 0x05 || command == 0x07);
      const int occurrence = seen[{netFn, command}]++;
      if (!app && !firmware) continue;
      int bytes = 0;
      if (line.compare(arrow + 4, 6, "status") != 0)
        bytes = static_cast<int>((line.size() - arrow - 4 + 1) / 3) - 3;
      const std::string match = command == 0x00 && netFn == 0x08 && request.size() > 2
                                    ? wire::HexCompact(wire::Bytes{request[2]})
                                    : "";
      answers.push_back(LayoutAnswer{netFn, command, match, occurrence, std::max(bytes, 0)});
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

// What the BMC says about its identity, its flash layout and channel 2 decides where every
// erase and write goes and what is restored: a spoiled answer must end the update with its code
// before anything is erased in the wrong place, or left in another setting.
TEST_F(FwFaultSweep, LayoutAnswers) {
  const struct {
    SweptUpdate update;
    bool bitFlips;
  } updates[] = {
      {kSingleBank, false},
      {kDualBank, true},
      {kBothBanks, false},
      {{"device 38, bank 2 running", 0x38, {"-force"}, {1}, 2}, false},
      {{"device 38, Microsoft driver", 0x38, {"-force"}, {2}, 1, false, true}, false},
      {{"device 38, 256-KiB sectors", 0x38, {"-force"}, {2}, 1, true}, false},
  };
  for (const auto& u : updates) {
    SCOPED_TRACE(u.update.name);
    SweepLayout(u.update, u.bitFlips);
  }
}

}  // namespace
}  // namespace korvane
