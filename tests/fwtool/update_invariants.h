#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fwtool/korvane_fixture.h"

namespace korvane {

// The banks an update programs and the flash geometry it must respect.
struct UpdateTarget {
  std::vector<uint8_t> banks;    // programmed, in order; the image selector ends on the last
  uint32_t bootBlock = 0x10000;  // kept at the start of every programmed bank (no -boot)
  uint32_t sector = 0x10000;
  std::string resultFile = "Update_force.xml";
};

// What a firmware update must leave behind whatever befell it. Taken before the run: the kept
// boot blocks, the banks it must not program, channel 2. After the run, Broken() lists every
// rule it broke, one line each:
// - "Complete" only with the image at each programmed bank's real start (bank n spans
//   (n-1) * bank size up to n * bank size), erased cells from the image's end to the bank's end,
//   and the image selector on the last of them, otherwise a defined code C2..C22;
// - the kept boot blocks and every bank not programmed hold what they held;
// - erase and write requests only inside the programmed banks, and at most bank size / sector
//   size + 8 erase requests per programmed bank;
// - channel 2's volatile and non-volatile settings as they were.
class UpdateInvariants {
 public:
  UpdateInvariants(const KorvaneFixture& fixture, UpdateTarget target);
  std::vector<std::string> Broken(const std::vector<uint8_t>& image) const;

 private:
  // The Firmware Erase and Write requests in the simulated BMC's exchange log.
  struct FlashRequest {
    bool erase = false;
    uint32_t address = 0;
    uint32_t length = 0;  // bytes written; 1 for an erase
  };
  static std::vector<FlashRequest> FlashRequests(const testsupport::SimBmc& bmc);
  bool Programmed(uint8_t bank) const;
  // Bytes from a bank's start that the run must keep: its boot block, or all of a bank it
  // does not program.
  size_t KeptLength(uint8_t bank) const;

  const KorvaneFixture& f_;
  UpdateTarget target_;
  testsupport::SimFirmwareView before_;
};

// Flash contents that show any erase: a few bytes that are not FFh at the start of every
// erase unit of a bank's first `length` bytes (8-KiB blocks in the first 64 KiB, 64-KiB
// sectors above), erased cells elsewhere. Cheap for the simulator to hold.
std::vector<uint8_t> EraseMarkers(uint8_t bank, uint32_t length);

}  // namespace korvane
