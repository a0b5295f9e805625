// Whole Korvane runs with one fault in what the BMC says about its flash layout (ID chip,
// current bank, bank-2 address, start address) or in the restore of channel 2. Taken on trust,
// each ends with a server that cannot boot or cannot be reached, often reported "Complete": the
// image beside its place, the kept boot block erased, hours of erases with channel 2 off, or
// channel 2 left off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fwtool/korvane_fixture.h"
#include "tests/fwtool/update_invariants.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;

class LayoutFaults : public KorvaneFixture {};

TEST_F(LayoutFaults, OneSpoiledAnswerNeverLosesTheServer) {
  struct Case {
    const char* name;
    std::vector<std::string> rules;
    std::vector<std::string> args = {"-force"};
    std::vector<uint8_t> banks = {2};  // programmed, in order
    uint8_t runningBank = 1;
    bool largeChip = false;  // chip 4: 256-KiB sectors and a 256-KiB boot block, 512-KiB banks
    bool wmi = false;
  };
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t unit = c.largeChip ? 0x40000 : 0x10000;
    // The same machine without the fault first: the row is a real update that completes.
    for (bool faulty : {false, true}) {
      testsupport::SimFirmware firmware;
      firmware.runningBank = c.runningBank;
      if (c.largeChip) {
        firmware.flashChip = 4;
        firmware.chipSizeCode = 3;
        firmware.chipSectorCode = 2;
      }
      Machine(0x38, firmware, c.largeChip ? 0x80000 : 0x20000);
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
      }
      for (const std::string& line : invariants.Broken(image)) {
        ADD_FAILURE() << (faulty ? "" : "without the fault: ") << line << " (result " << code << ")";
      }
    }
  }
}

}  // namespace
}  // namespace korvane
