// Whole Korvane runs with one fault in what the BMC says about its flash layout (ID chip,
// current bank, bank-2 address, start address) or in the restore of channel 2, or with a BMC
// that acknowledges a change and does not make it. Taken on trust, each ends with a server that
// cannot boot or cannot be reached, often reported "Complete": the image beside its place, the
// kept boot block erased, the old firmware still selected, hours of erases with channel 2 off,
// or channel 2 left off or in another setting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fwtool/korvane_fixture.h"
#include "tests/fwtool/update_invariants.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;

struct Case {
  const char* name;
  std::vector<std::string> rules;
  std::vector<std::string> args = {"-force"};
  std::vector<uint8_t> banks = {2};  // programmed, in order
  uint8_t runningBank = 1;
  bool largeChip = false;  // chip 4: 256-KiB sectors and a 256-KiB boot block, 512-KiB banks
  bool wmi = false;
  uint8_t deviceId = 0x38;
  const char* code = nullptr;  // the result with the fault, where the row expects one
};

class LayoutFaults : public KorvaneFixture {
 public:
  // The row's machine without the fault first (a real update that completes), then with it;
  // both must keep the update's invariants.
  void RunCase(const Case& c) {
    SCOPED_TRACE(c.name);
    const uint32_t unit = c.largeChip ? 0x40000 : 0x10000;
    for (bool faulty : {false, true}) {
      testsupport::SimFirmware firmware;
      firmware.runningBank = c.runningBank;
      if (c.largeChip) {
        firmware.flashChip = 4;
        firmware.chipSizeCode = 3;
        firmware.chipSectorCode = 2;
      }
      Machine(c.deviceId, firmware, c.largeChip ? 0x80000 : 0x20000);
      if (c.wmi) UseMicrosoftDriver();
      const Bytes image = WriteImage(unit + 0x800);
      if (faulty) {
        for (const std::string& rule : c.rules) bmc.AddFault(rule);
      }
      const UpdateInvariants invariants(*this, {c.banks, unit, unit});
      ASSERT_EQ(Run(c.args), 0);
      const std::string code = Result("Update_force.xml").resultCode;
      if (!faulty) {
        EXPECT_EQ(code, "Complete") << "without the fault";
      } else if (c.code) {
        EXPECT_EQ(code, c.code);
      }
      for (const std::string& line : invariants.Broken(image)) {
        ADD_FAILURE() << (faulty ? "" : "without the fault: ") << line << " (result " << code << ")";
      }
    }
  }
};

TEST_F(LayoutFaults, OneSpoiledAnswerNeverLosesTheServer) {
  // Get Firmware Image Downloader Selector answers the downloader's bank, the running bank and
  // the bank's start address: data byte 3 is the address's low byte, 6 its high byte. Its
  // first answer gives the bank-2 address, the next ones each pass's start address.
  const std::string startLow = "netfn=0x08 cmd=0x07 skip=1 count=1 flip=3";
  const std::string probe4 = "netfn=0x08 cmd=0x00 skip=4 count=1 ";
  const Case cases[] = {
      {"start address one byte off", {startLow}},
      {"start address one byte off, bank 2 running", {startLow}, {"-force"}, {1}, 2},
      {"start address of bank 1 one byte off, -both",
       {"netfn=0x08 cmd=0x07 skip=2 count=1 flip=3"},
       {"-both", "-force"},
       {2, 1}},
      {"start address of bank 1 one byte off, -both, bank 2 running",
       {startLow},
       {"-both", "-force"},
       {1, 2},
       2},
      {"start address one byte off, Microsoft driver", {startLow}, {"-force"}, {2}, 1, false, true},
      {"start address one byte off, 256-KiB sectors", {startLow}, {"-force"}, {2}, 1, true},
      // A refused probe of the fitted chip reads as "no chip": 64-KiB sectors assumed, and the
      // first erase past 64 KiB takes the whole 256-KiB sector that holds the boot block.
      {"fitted chip's probe answered C0h", {probe4 + "cc=0xC0"}, {"-force"}, {2}, 1, true},
      {"fitted chip's probe answered C3h", {probe4 + "cc=0xC3"}, {"-force"}, {2}, 1, true},
      {"fitted chip's probe answered FFh", {probe4 + "cc=0xFF"}, {"-force"}, {2}, 1, true},
      {"fitted chip's probe answer lost", {probe4 + "status=10"}, {"-force"}, {2}, 1, true},
      {"fitted chip's echo flipped", {probe4 + "flip=1"}, {"-force"}, {2}, 1, true},
      // A bank-2 address of 0xFF080000 asks for 16,321 erases of 5 s each (22.7 hours with
      // channel 2 off); 0x00F70000 for five minutes of erases past the flash.
      {"bank-2 address high byte flipped",
       {"netfn=0x08 cmd=0x07 skip=0 count=1 flip=6"},
       {"-force"},
       {2},
       1,
       true},
      {"bank-2 address third byte flipped",
       {"netfn=0x08 cmd=0x07 skip=0 count=1 flip=5"},
       {"-force"},
       {2},
       1,
       true},
      {"restoring channel 2: method call failed",
       {"netfn=0x06 cmd=0x40 skip=1 count=1 wmi=fail"},
       {"-force"},
       {2},
       1,
       false,
       true},
  };
  for (const Case& c : cases) RunCase(c);
}

// A change acknowledged (00h) and not made, or a reading with one bit wrong: what the tool changed
// is read back, a change that does not show is sent again, and one that never shows ends the run
// with its step's code.
TEST_F(LayoutFaults, AnAcknowledgedChangeCountsOnlyOnceItShows) {
  const std::string selectorIgnored = "netfn=0x08 cmd=0x04 skip=0 count=1 cc=0x00";
  const std::string channelReadFlipped = "netfn=0x06 cmd=0x41 skip=0 count=1 patch=3:";
  const Case cases[] = {
      {"image selector ignored once", {selectorIgnored}, {"-force"}, {2}, 1, false, false, 0x38, "Complete"},
      {"image selector ignored once, bank 2 running",
       {selectorIgnored},
       {"-force"},
       {1},
       2,
       false,
       false,
       0x38,
       "Complete"},
      {"image selector ignored once, Microsoft driver",
       {selectorIgnored},
       {"-force"},
       {2},
       1,
       false,
       true,
       0x38,
       "Complete"},
      {"image selector ignored once, 256-KiB sectors",
       {selectorIgnored},
       {"-force"},
       {2},
       1,
       true,
       false,
       0x38,
       "Complete"},
      {"image selector ignored in the second pass of -both",
       {"netfn=0x08 cmd=0x04 skip=1 count=1 cc=0x00"},
       {"-both", "-force"},
       {2, 1},
       1,
       false,
       false,
       0x38,
       "Complete"},
      {"image selector ignored three times",
       {"netfn=0x08 cmd=0x04 count=3 cc=0x00"},
       {"-force"},
       {2},
       1,
       false,
       false,
       0x38,
       "C12"},
      // The downloader still names bank 2 from the bank-2 address question: bank 2 is running.
      {"downloader selection ignored, bank 2 running",
       {"netfn=0x08 cmd=0x06 skip=2 count=1 cc=0x00"},
       {"-force"},
       {1},
       2,
       false,
       false,
       0x38,
       "Complete"},
      {"downloader selection ignored three times, bank 2 running",
       {"netfn=0x08 cmd=0x06 skip=2 count=3 cc=0x00"},
       {"-force"},
       {1},
       2,
       false,
       false,
       0x38,
       "C13"},
      {"channel 2's disable ignored",
       {"netfn=0x06 cmd=0x40 skip=0 count=1 cc=0x00"},
       {"-force"},
       {2},
       1,
       false,
       false,
       0x38,
       "Complete"},
      {"channel 2's restore ignored",
       {"netfn=0x06 cmd=0x40 skip=1 count=1 cc=0x00"},
       {"-force"},
       {2},
       1,
       false,
       false,
       0x38,
       "Complete"},
      {"channel 2's restore ignored, Microsoft driver",
       {"netfn=0x06 cmd=0x40 skip=1 count=2 cc=0x00"},
       {"-force"},
       {2},
       1,
       false,
       true,
       0x38,
       "Complete"},
      {"channel 2 read as 20h", {channelReadFlipped + "20"}, {"-force"}, {2}, 1, false, false, 0x38, "C17"},
      {"channel 2 read as 23h", {channelReadFlipped + "23"}, {"-force"}, {2}, 1, false, false, 0x38, "C17"},
      {"channel 2 read as 2Ah", {channelReadFlipped + "2a"}, {"-force"}, {2}, 1, false, false, 0x38, "C17"},
      {"channel 2 read as 32h", {channelReadFlipped + "32"}, {"-force"}, {2}, 1, false, false, 0x38, "C17"},
      {"channel 2 read as 02h", {channelReadFlipped + "02"}, {"-force"}, {2}, 1, false, false, 0x38, "C17"},
      // The sector at 0x40000 keeps its old bytes, past the image, where verify never reads.
      {"erase ignored, single bank",
       {"netfn=0x08 cmd=0x01 skip=3 count=1 cc=0x00"},
       {"-force"},
       {1},
       1,
       false,
       false,
       0x30,
       "C8"},
      // On the vendor path a 256-KiB erase's answer is not looked at: the completion poll and
      // the blank check decide.
      {"256-KiB erase refused",
       {"netfn=0x08 cmd=0x01 count=1 cc=0xC1"},
       {"-force"},
       {2},
       1,
       true,
       false,
       0x38,
       "C8"},
      // "No chip" would mean 64-KiB sectors: the first erase past the boot block takes it.
      {"fitted chip refused in two probes",
       {"netfn=0x08 cmd=0x00 match=04 count=2 cc=0xD5"},
       {"-force"},
       {2},
       1,
       true,
       false,
       0x38,
       "C16"},
      // One bit makes a dual-bank device single-bank: 4 MiB erased from address 0, both banks.
      {"device ID 38h read as 30h",
       {"netfn=0x06 cmd=0x01 count=1 flip=1:08"},
       {"-force"},
       {2},
       1,
       false,
       false,
       0x38,
       "C15"},
      {"device ID 30h read as 38h",
       {"netfn=0x06 cmd=0x01 count=1 flip=1:08"},
       {"-force"},
       {1},
       1,
       false,
       false,
       0x30,
       "C15"},
      // The vendor and kernel paths answer with the request's network function + 1: an answer
      // carrying the request's own is the request reflected.
      {"request reflected as the running bank's answer",
       {"netfn=0x08 cmd=0x05 count=1 patch=0:20"},
       {"-force"},
       {2},
       1,
       false,
       false,
       0x38,
       "C11"},
  };
  for (const Case& c : cases) RunCase(c);
}

}  // namespace
}  // namespace korvane
