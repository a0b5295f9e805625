#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/fwtool/korvane_fixture.h"
#include "tests/support/log_lines.h"
#include "tests/support/result_file.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::Contains;

constexpr uint32_t kBootArea = 0x10000;

// Passes requests on and notes every ratio the progress file shows, as a manager polling it
// would; also counts the driver's maintenance mode calls.
class Observer : public transport::IpmiDriver {
 public:
  Observer(transport::IpmiDriver* inner, std::string workFile)
      : inner_(inner), workFile_(std::move(workFile)) {}
  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    Look();
    return inner_->Exchange(request, response);
  }
  bool HoldMaintenanceMode(bool on) override {
    maintenance.push_back(on);
    return true;
  }
  void Look() {
    const auto tree = testsupport::ReadResultFile(workFile_);
    if (!tree.parsed) return;
    const int ratio = std::atoi(tree.data.c_str());
    if (ratios.empty() || ratios.back() != ratio) ratios.push_back(ratio);
  }
  std::vector<int> ratios;
  std::vector<bool> maintenance;

 private:
  transport::IpmiDriver* inner_;
  std::string workFile_;
};

// The virtual clock, looking at the progress file before every pause (the end of an update
// pauses 10 s with its final ratio in place).
class WatchingClock : public platform::VirtualClock {
 public:
  explicit WatchingClock(Observer& observer) : observer_(observer) {}
  void SleepMs(uint32_t ms) override {
    observer_.Look();
    VirtualClock::SleepMs(ms);
  }

 private:
  Observer& observer_;
};

class FlashUpdate : public KorvaneFixture {
 public:
  FlashUpdate() : observer(driver.get(), Prog("Get_ratio.xml_tmp")), watching(observer) {
    env.vendorDriver = &observer;
    env.clock = &watching;
  }

  // What a bank must hold after the image was written from `from` on: the old bytes before,
  // the image, erased cells after it; keep[] ranges keep their old bytes.
  Bytes Expected(uint8_t bank, const Bytes& image, uint32_t from,
                 std::vector<std::pair<uint32_t, uint32_t>> keep = {}) const {
    Bytes expected = OldFirmware(bank, bankSize);
    std::fill(expected.begin() + from, expected.end(), 0xFF);
    std::copy(image.begin() + from, image.end(), expected.begin() + from);
    const Bytes old = OldFirmware(bank, bankSize);
    for (auto [a, b] : keep) std::copy(old.begin() + a, old.begin() + b, expected.begin() + a);
    return expected;
  }
  void ExpectChannelRestored() const {
    EXPECT_EQ(bmc.Channel2(false), testsupport::SimChannelAccess{});
    EXPECT_EQ(bmc.Channel2(true), testsupport::SimChannelAccess{});
  }
  bool Untouched(uint8_t bank) const {
    if (bank > bankCount) return true;
    const auto counts = bmc.BankCounts(bank);
    return counts.erases == 0 && counts.writes == 0 && bmc.FlashBytes(bank) == OldFirmware(bank, bankSize);
  }

  Observer observer;
  WatchingClock watching;
};

// The flash holds the image exactly where it belongs and the old bytes everywhere else; the
// image selector names the programmed bank; channel 2 is as it was; the ratio only rises.
TEST_F(FlashUpdate, ImageLandsWhereItBelongsAndNothingElseChanges) {
  struct Case {
    const char* name;
    uint8_t deviceId;
    std::vector<std::string> args;
    std::vector<uint8_t> programmed;  // banks, in order
    bool bootBlock;
    uint8_t selectedAfter;
    size_t chunk;
    uint32_t bankSize = kDualBankSize;
  } cases[] = {
      {"dual-bank, force", 0x38, {"-force"}, {2}, false, 2, 28},
      {"dual-bank, newer package", 0x39, {"-normal"}, {2}, false, 2, 28},
      {"dual-bank, 16-byte chunks", 0x3A, {"-force", "-16"}, {2}, false, 2, 16},
      {"dual-bank, both banks", 0x38, {"-both", "-force"}, {2, 1}, false, 1, 28},
      {"single-bank", 0x30, {"-force"}, {1}, false, 1, 28},
      {"single-bank with its boot block", 0x31, {"-force", "-boot"}, {1}, true, 1, 28},
      // Bank 2 starts at 0x30000, which has the boot block's size bit set already.
      {"bank start sharing a bit with the boot block", 0x38, {"-force"}, {2}, false, 2, 28, 0x30000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine(c.deviceId, {}, c.bankSize);
    const Bytes image = WriteImage(0x1A345);
    observer.ratios.clear();
    observer.maintenance.clear();
    platform::RemoveFile(Prog("Korvane_log.txt"));
    ASSERT_EQ(Run(c.args), 0);
    const bool normal = std::find(c.args.begin(), c.args.end(), "-normal") != c.args.end();
    const std::string result = normal ? "Update_normal.xml" : "Update_force.xml";
    EXPECT_EQ(Result(result).resultCode, "Complete");
    for (uint8_t bank = 1; bank <= (c.deviceId >= 0x38 ? 2 : 1); ++bank) {
      const bool programmed = std::count(c.programmed.begin(), c.programmed.end(), bank) > 0;
      if (!programmed) {
        EXPECT_TRUE(Untouched(bank)) << "bank " << int(bank);
        continue;
      }
      const Bytes expected =
          c.bootBlock ? Expected(bank, image, 0, {{0x8000, 0x10000}}) : Expected(bank, image, kBootArea);
      EXPECT_TRUE(bmc.FlashBytes(bank) == expected) << "bank " << int(bank);
    }
    EXPECT_EQ(bmc.Selectors().imageSelector, c.selectedAfter);
    ExpectChannelRestored();
    // The manager saw the ratio rise in steps to 100 and the file gone at the end.
    EXPECT_TRUE(std::is_sorted(observer.ratios.begin(), observer.ratios.end()));
    ASSERT_GE(observer.ratios.size(), 5u);
    EXPECT_EQ(observer.ratios[0], 0);
    EXPECT_EQ(observer.ratios[1], 5);
    EXPECT_EQ(observer.ratios.back(), 100);
    EXPECT_LT(observer.ratios[observer.ratios.size() - 2], 100);
    EXPECT_FALSE(platform::FileReadable(Prog("Get_ratio.xml_tmp")));
    EXPECT_EQ(observer.maintenance, (std::vector<bool>{true, false}));
    // Every write carried a full chunk but the last of a stretch.
    size_t full = 0;
    for (const std::string& line : bmc.LogLines()) {
      if (line.rfind("20 02 ", 0) == 0 && line.find("->") == 6 + 3 * (4 + c.chunk)) ++full;
    }
    EXPECT_GT(full, 100u);
    const auto log = UpdateLog();
    EXPECT_THAT(log, Contains("=== VerifyWriteData() success. ==="));
    EXPECT_THAT(log, Contains("=== SetFWImageSelector() success. ==="));
  }
}

// Whatever stops the run before the passes leaves both banks, the selector and channel 2 as
// they were, and never ends with "Complete".
TEST_F(FlashUpdate, ChecksThatFailLeaveTheFlashAlone) {
  struct Case {
    const char* name;
    std::function<void(FlashUpdate&)> prepare;
    std::vector<std::string> args;
    const char* code;
    bool passStarted = false;  // refused by the pass itself, under the driver's maintenance mode
  };
  const Case cases[] = {
      {"not listed",
       [](FlashUpdate& f) { testsupport::WriteFile(f.Prog("mchk_fil"), "0200\n"); },
       {"-force"},
       "C3"},
      {"dual-bank and -boot", [](FlashUpdate&) {}, {"-force", "-boot"}, "C4"},
      {"no target", [](FlashUpdate& f) { f.Machine(0x20); }, {"-force"}, "C5"},
      {"no hardware list",
       [](FlashUpdate& f) { platform::RemoveFile(f.Prog("mchk_fil")); },
       {"-force"},
       "C6"},
      {"no image", [](FlashUpdate& f) { platform::RemoveFile(f.Prog("bmcfw.bin")); }, {"-force"}, "C7"},
      {"empty image", [](FlashUpdate& f) { f.WriteImage(0); }, {"-force"}, "C7"},
      {"image longer than the bank",
       [](FlashUpdate& f) { f.WriteImage(kDualBankSize + 1); },
       {"-force"},
       "C7"},
      {"image within the kept boot block", [](FlashUpdate& f) { f.WriteImage(kBootArea); }, {"-force"}, "C7"},
      {"Get Device ID refused",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x06 cmd=0x01 cc=0xc1"); },
       {"-force"},
       "C15"},
      {"ID chip never answers",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x08 cmd=0x00 count=always status=10"); },
       {"-force"},
       "C16"},
      {"sectors wider than the boot block",
       [](FlashUpdate& f) {
         testsupport::SimFirmware fw;
         fw.flashChip = 4;
         fw.chipSizeCode = 1;
         fw.chipSectorCode = 2;
         f.Machine(0x38, fw);
       },
       {"-force"},
       "C16"},
      {"package not newer", [](FlashUpdate& f) { f.PackageVersion("01.05"); }, {"-normal"}, "Down Grade"},
      {"current bank unknown",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x08 cmd=0x05 patch=4:03"); },
       {"-force"},
       "C11"},
      {"downloader selector refused",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x08 cmd=0x06 cc=0xc1"); },
       {"-force"},
       "C14"},
      {"bank address lost",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x08 cmd=0x07 status=10"); },
       {"-force"},
       "C13"},
      {"bank of no length",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x08 cmd=0x07 patch=5:00000000"); },
       {"-force"},
       "C13"},
      {"start address where no bank starts",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x08 cmd=0x07 skip=2 count=always patch=5:0000FFFF"); },
       {"-force"},
       "C13",
       true},
      {"large chip's answer without its codes",
       [](FlashUpdate& f) {
         testsupport::SimFirmware fw;
         fw.flashChip = 4;
         f.Machine(0x38, fw);
         f.bmc.AddFault("netfn=0x08 cmd=0x00 match=04 length=5");
       },
       {"-force"},
       "C16"},
      {"channel access unreadable",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x06 cmd=0x41 cc=0xc1"); },
       {"-force"},
       "C17"},
      // The disable was carried out but its answer lost: the restore still follows.
      {"disable answer lost",
       [](FlashUpdate& f) { f.bmc.AddFault("netfn=0x06 cmd=0x40 count=1 status=10"); },
       {"-force"},
       "C18"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine(0x38);
    WriteImage(0x1A345);
    testsupport::WriteFile(Prog("mchk_fil"), "0100\n");
    PackageVersion("01.10");
    c.prepare(*this);
    observer.maintenance.clear();
    ASSERT_EQ(Run(c.args), 0);
    const std::string result = c.args[0] == "-normal" ? "Update_normal.xml" : "Update_force.xml";
    EXPECT_EQ(Result(result).resultCode, c.code);
    EXPECT_TRUE(Untouched(1));
    EXPECT_TRUE(Untouched(2));
    EXPECT_EQ(bmc.Selectors().imageSelector, 1);
    ExpectChannelRestored();
    const std::vector<bool> held = c.passStarted ? std::vector<bool>{true, false} : std::vector<bool>{};
    EXPECT_EQ(observer.maintenance, held);
    EXPECT_FALSE(platform::FileReadable(Prog("Get_ratio.xml_tmp")));
    bmc.ClearFaults();
  }
}

// A fault anywhere in the passes ends with its code: no "Complete", no image selector, channel
// 2 restored, the driver's maintenance mode back to automatic, the lock free again.
TEST_F(FlashUpdate, FaultsInThePassesEndWithTheirCode) {
  struct Case {
    const char* name;
    std::string rule;
    const char* code;
    const char* line;  // in the update log; may be empty
  } cases[] = {
      {"erase refused", "netfn=0x08 cmd=0x01 skip=3 cc=0xc1", "C8", "Erase error."},
      {"erase busy ten times", "netfn=0x08 cmd=0x01 skip=2 count=10 cc=0xc0", "C8", "Erase error."},
      {"erase never completes", "netfn=0x08 cmd=0x00 skip=4 count=always cc=0xc0", "C8", "Erase error."},
      {"erase answer lost", "netfn=0x08 cmd=0x01 skip=1 status=10", "C8", "  request  = 20 01 "},
      {"write refused", "netfn=0x08 cmd=0x02 skip=40 cc=0xcc", "C9", "=== Write Error!!! ==="},
      {"write busy ten times", "netfn=0x08 cmd=0x02 skip=7 count=10 cc=0xc0", "C9", "Update error."},
      {"write answer lost", "netfn=0x08 cmd=0x02 skip=9 status=10", "C9", "Update error."},
      {"read-back differs", "netfn=0x08 cmd=0x03 skip=100 flip=5", "C10", "compare error. count : 0x"},
      // The erase pass reads seven chunks back past the image before the verify pass's first.
      {"read-back short", "netfn=0x08 cmd=0x03 skip=10 length=20", "C10", "Verify error."},
      // An erase acknowledged and not carried out: its sector keeps the old firmware past the
      // image's end, where the verify pass does not look.
      {"sector not erased", "netfn=0x08 cmd=0x01 count=1 cc=0x00", "C8",
       "The flash at 0x9a345 is not blank after its erase."},
      {"image selector refused", "netfn=0x08 cmd=0x04 cc=0xc1", "C12",
       "IPMI command error.(Set Firmware Image Selector)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine(0x38);
    WriteImage(0x1A345);
    platform::RemoveFile(Prog("Korvane_log.txt"));
    bmc.AddFault(c.rule);
    observer.maintenance.clear();
    ASSERT_EQ(Run({"-force"}), 0);
    EXPECT_EQ(Result("Update_force.xml").resultCode, c.code);
    const auto log = UpdateLog();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) {
      return l.rfind(c.line, 0) == 0;
    })) << c.line;
    EXPECT_THAT(log, ::testing::Not(Contains("BMCFW update was completed.")));
    EXPECT_EQ(bmc.Selectors().imageSelector, 1);
    EXPECT_TRUE(Untouched(1));
    ExpectChannelRestored();
    EXPECT_EQ(observer.maintenance, (std::vector<bool>{true, false}));
    EXPECT_FALSE(platform::FileReadable(Prog("Get_ratio.xml_tmp")));
    bmc.ClearFaults();
  }
  // The lock went with the run: a query is answered, not busy.
  EXPECT_EQ(Run({"-version"}), 0);
  EXPECT_EQ(Result("Get_version.xml").resultCode, "OK");
}

// A write the BMC wants checked is read back: a match counts as written, no second write.
TEST_F(FlashUpdate, WriteCheckedByReadBackIsNotWrittenAgain) {
  WriteImage(0x1A345);
  // The write is carried out, then answered C4h.
  bmc.AddFault("netfn=0x08 cmd=0x02 skip=5 count=1 patch=2:C4");
  ASSERT_EQ(Run({"-force"}), 0);
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
  const auto lines = bmc.LogLines();
  std::vector<std::string> writes;
  for (const std::string& line : lines) {
    if (line.rfind("20 02 ", 0) == 0) writes.push_back(line.substr(0, line.find("->")));
  }
  std::sort(writes.begin(), writes.end());
  EXPECT_EQ(std::adjacent_find(writes.begin(), writes.end()), writes.end()) << "a chunk was written twice";
  EXPECT_THAT(UpdateLog(), Contains("=== Write Error!!! ==="));
}

// A read-back of the wrong length proves nothing: the chunk is written again.
TEST_F(FlashUpdate, WriteCheckWithAShortReadBackWritesAgain) {
  const Bytes image = WriteImage(0x1A345);
  bmc.AddFault("netfn=0x08 cmd=0x02 skip=5 count=1 patch=2:C4");
  bmc.AddFault("netfn=0x08 cmd=0x03 skip=7 count=1 length=10");
  ASSERT_EQ(Run({"-force"}), 0);
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
  std::vector<std::string> writes;
  for (const std::string& line : bmc.LogLines()) {
    if (line.rfind("20 02 ", 0) == 0) writes.push_back(line.substr(0, line.find("->")));
  }
  ASSERT_GT(writes.size(), 7u);
  EXPECT_EQ(writes[5], writes[6]);
  EXPECT_TRUE(bmc.FlashBytes(2) == Expected(2, image, kBootArea));
}

// What Get Channel Access returns beyond its defined bits must not reach the restore, where
// bits 7:6 would select another setting (or none the BMC accepts).
TEST_F(FlashUpdate, RestoreSendsOnlyTheDefinedAccessBits) {
  WriteImage(0x1A345);
  bmc.AddFault("netfn=0x06 cmd=0x41 count=2 patch=3:E2");
  ASSERT_EQ(Run({"-force"}), 0);
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
  ExpectChannelRestored();
}

// Two reports in one run: the first code stays in the result file, both messages are logged.
TEST_F(FlashUpdate, FirstFailureStaysWhenTheRestoreFailsToo) {
  WriteImage(0x1A345);
  // The restore is tried three times.
  bmc.AddFault("netfn=0x08 cmd=0x00 count=always status=10");
  bmc.AddFault("netfn=0x06 cmd=0x40 skip=1 count=3 cc=0xc1");
  ASSERT_EQ(Run({"-force"}), 0);
  EXPECT_EQ(Result("Update_force.xml").resultCode, "C16");
  EXPECT_THAT(UpdateLog(), Contains("IPMI command error.(FW ID Chip)"));
  EXPECT_THAT(UpdateLog(), Contains("IPMI command error.(Set Channel Access)"));
  // An operator sees both.
  bmc.ClearFaults();
  bmc.AddFault("netfn=0x08 cmd=0x00 count=always status=10");
  bmc.AddFault("netfn=0x06 cmd=0x40 skip=1 count=3 cc=0xc1");
  ASSERT_EQ(Run({}, "y\n"), 0);
  EXPECT_NE(
      console.Output().find("IPMI command error.(FW ID Chip)\nIPMI command error.(Set Channel Access)\n"),
      std::string::npos);
}

TEST_F(FlashUpdate, OperatorSeesTheProgressOnTheConsole) {
  WriteImage(0x1A345);
  ASSERT_EQ(Run({}, "y\n"), 0);
  const std::string& out = console.Output();
  for (const char* text : {"\r BANK2 Erasing.\r BANK2 Erasing.", "\r BANK2 Writing.", "\r BANK2 Verifying.",
                           " 100%  ...complete \r\n", "BMCFW update was completed.\n"}) {
    EXPECT_NE(out.find(text), std::string::npos) << text;
  }
  EXPECT_FALSE(platform::FileReadable(Work("Update_normal.xml")));
  EXPECT_EQ(bmc.Selectors().imageSelector, 2);
}

}  // namespace
}  // namespace korvane
