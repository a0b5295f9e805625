// Whole Korvane runs against a BMC whose replies come from the fuzz input (see FuzzedBmcDriver).
// Input: a mode byte (-force, -normal, -version, -force -both, -force -16, -force -boot, an
// operator's run), a machine byte (bits 0-1: device 38h or 39h (two banks), 30h (one bank) or
// 50h (no target); bits 2-4: flash ID chip none, 0-4 (a one-bank device carries one of the
// three chips it is probed for, or one the tool does not know and treats as 64-KiB sectors:
// indexes 3 and 4 are none there); bit 5: chip 4 reports 256-KiB sectors; bit 6: bank 2
// running; bit 7: chip 4 reports a 256-KiB boot block), then the reply rules. The image is the
// boot block and 64 bytes.
//
// After every run, whatever the replies were, the BMC's flash must hold (else the target stops
// the process as a finding): an update reported complete has put the image at the real start of
// the bank the image selector names (with -both, of both banks); the kept boot blocks are as
// they were (they carry marks in every erase unit); a bank an update without -both must not
// program is as it was; at most bank size / sector size + 8 distinct addresses per programmed
// bank were erased, each at most ten times. A complete update has also left every programmed bank
// erased past the image and channel 2 in the setting it had.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bmcsim/model/flash_layout.h"
#include "fuzz/support/fuzzed_bmc.h"
#include "fuzz/support/workspace.h"
#include "fwtool/main_flow.h"

namespace {

constexpr uint32_t kKeptFrom = 0x8000;  // what -boot keeps of a single bank
constexpr uint32_t kKeptTo = 0x10000;
constexpr int kEraseTries = 10;  // a busy erase is sent again, ten times at most

std::vector<std::string> Arguments(uint8_t mode) {
  switch (mode % 7) {
    case 0:
      return {"-force"};
    case 1:
      return {"-normal"};
    case 2:
      return {"-version"};
    case 3:
      return {"-force", "-both"};
    case 4:
      return {"-force", "-16"};
    case 5:
      return {"-force", "-boot"};
    default:
      return {};
  }
}

// The bytes at the start of each bank that an update keeps.
uint32_t BootBlock(const bmcsim::FirmwareState& f) {
  return f.chip.index == bmcsim::kChipWithCodes && f.chip.sizeCode == 3 ? bmcsim::kLargeSector
                                                                        : bmcsim::kBootAreaSize;
}

// Marks at the start of every erase unit of each bank, so that an erase (or one missed) shows.
void MarkEraseUnits(bmcsim::BmcState& state) {
  bmcsim::FirmwareState& f = state.firmware;
  const uint32_t end = f.bankSize;
  for (int bank = 0; bank < bmcsim::BankCount(state); ++bank) {
    for (uint32_t at = 0; at < end;
         at += at < bmcsim::kBootAreaSize ? bmcsim::kBootBlockSize : bmcsim::kSmallSector) {
      const uint8_t mark[4] = {0x4B, static_cast<uint8_t>(bank), static_cast<uint8_t>(at >> 12), 0x00};
      f.banks[bank].Store(at, mark, sizeof mark);
    }
  }
}

bmcsim::BmcState Machine(uint8_t setup, platform::Clock& clock) {
  static const uint8_t kDevices[4] = {0x38, 0x39, 0x30, 0x50};
  bmcsim::DeviceIdentity identity;
  identity.deviceId = kDevices[setup & 3];
  identity.firmwareRevision1 = 0x01;
  identity.firmwareRevision2 = 0x05;
  identity.ipmiVersion = 0x51;
  identity.productId = 0x0100;
  bmcsim::BmcSettings settings;
  bmcsim::BmcState state = bmcsim::FreshState(identity, settings, clock);
  bmcsim::FirmwareState& f = state.firmware;
  const bool dual = bmcsim::IsDualBank(identity.deviceId);
  const uint8_t chip = (setup >> 2) & 7;
  const uint8_t probed = dual ? 5 : 3;
  if (chip == 0 || chip > probed) {
    f.chip.index.reset();
  } else {
    f.chip.index = static_cast<uint8_t>(chip - 1);
  }
  f.chip.sectorCode = (setup & 0x20) ? bmcsim::kLargeSectorCode : 1;
  f.chip.sizeCode = (setup & 0x80) ? 3 : 1;
  f.bankSize = dual ? 0x80000 : 0x400000;
  f.runningBank = f.imageSelector = (dual && (setup & 0x40)) ? 2 : 1;
  f.downloaderBank = bmcsim::StandbyBank(state);
  MarkEraseUnits(state);
  return state;
}

bool Holds(const bmcsim::FlashBank& bank, const std::string& image, uint32_t from, uint32_t to) {
  const wire::Bytes bytes = bank.Read(from, to - from);
  return std::equal(bytes.begin(), bytes.end(), image.begin() + from,
                    [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
}

// The image's bytes the update writes, at the bank's real start.
bool HoldsImage(const bmcsim::FlashBank& bank, const std::string& image, uint32_t bootBlock, bool withBoot) {
  const uint32_t size = static_cast<uint32_t>(image.size());
  if (!withBoot) return Holds(bank, image, bootBlock, size);
  return Holds(bank, image, 0, kKeptFrom) && Holds(bank, image, kKeptTo, size);
}

void CheckFlash(const bmcsim::BmcState& before, const fuzzing::FuzzedBmcDriver& bmc, uint8_t mode,
                const std::string& image, bool complete) {
  const bmcsim::FirmwareState& was = before.firmware;
  const bmcsim::FirmwareState& now = bmc.state().firmware;
  const int banks = bmcsim::BankCount(before);
  const bool both = mode % 7 == 3 && banks == 2;
  const bool withBoot = mode % 7 == 5 && banks == 1;  // refused on two banks
  const uint32_t bootBlock = BootBlock(was);
  for (int b = 0; b < banks; ++b) {
    const bool kept = withBoot ? was.banks[b].Read(kKeptFrom, kKeptTo - kKeptFrom) ==
                                     now.banks[b].Read(kKeptFrom, kKeptTo - kKeptFrom)
                               : was.banks[b].Read(0, bootBlock) == now.banks[b].Read(0, bootBlock);
    if (!kept) fuzzing::Die("a kept boot block changed");
  }
  // Without -both an update programs the bank that is not running, and only that one.
  if (banks == 2 && !both && was.banks[was.runningBank - 1] != now.banks[was.runningBank - 1])
    fuzzing::Die("the running bank changed");
  if (complete) {
    if (!HoldsImage(now.banks[now.imageSelector - 1], image, bootBlock, withBoot))
      fuzzing::Die("complete, but the bank the image selector names does not hold the image at its start");
    if (both && !HoldsImage(now.banks[0], image, bootBlock, false))
      fuzzing::Die("complete with -both, but bank 1 does not hold the image at its start");
    if (both && !HoldsImage(now.banks[1], image, bootBlock, false))
      fuzzing::Die("complete with -both, but bank 2 does not hold the image at its start");
    for (int b = 0; b < banks; ++b) {
      if (!both && b != now.imageSelector - 1) continue;
      const uint32_t end = static_cast<uint32_t>(image.size());
      if (now.banks[b].Read(end, was.bankSize - end) != wire::Bytes(was.bankSize - end, 0xFF))
        fuzzing::Die("complete, but a programmed bank is not erased past the image");
    }
    if (!(bmc.state().channel2.active == before.channel2.active))
      fuzzing::Die("complete, but channel 2 is not in its saved setting");
  }
  const uint64_t bound = (both ? 2 : 1) * (uint64_t{was.bankSize} / bmcsim::SectorSize(was.chip) + 8);
  if (bmc.eraseRequests().size() > bound) fuzzing::Die("more erase addresses than the programmed banks hold");
  for (const auto& [address, count] : bmc.eraseRequests()) {
    if (count > kEraseTries) fuzzing::Die("one address erased more than ten times");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  workspace.Clear();
  workspace.Write("mchk_fil", "Board 0100 rev A\n");
  workspace.Write("ExUpInfo.xml", "<ExUpInfo><package><version>01.10</version></package></ExUpInfo>\n");

  fuzzing::RunFrame frame(nullptr, "y\n");
  const bmcsim::BmcState machine = Machine(data[1], frame.clock);
  std::string image(BootBlock(machine.firmware) + 0x40, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 13 + 5) ^ (i >> 11) ^ 0x5A);
  workspace.Write("bmcfw.bin", image);

  fuzzing::InputBytes input(data + 2, size - 2);
  fuzzing::FuzzedBmcDriver bmc(machine, frame.clock, input);
  frame.env.vendorDriver = &bmc;

  std::vector<std::string> args = Arguments(data[0]);
  std::vector<const char*> argv = {"Korvane"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  korvane::RunKorvane(static_cast<int>(argv.size()), argv.data(), frame.env);
  fuzzing::ShowRunFiles();

  const uint8_t mode = data[0] % 7;
  const bool complete =
      mode == 6 ? frame.console.Output().find("BMCFW update was completed.") != std::string::npos
                : fuzzing::ResultCode(mode == 1 ? "Update_normal.xml" : "Update_force.xml") == "Complete";
  CheckFlash(machine, bmc, mode, image, complete);
  return 0;
}
