// Whole Korvane runs against a BMC whose replies come from the fuzz input (see FuzzedBmcDriver).
// Input: a mode byte (-force, -normal, -version, -force -both, -force -16, -force -boot, an
// operator's run), a machine byte (bits 0-1: device 38h or 39h (two banks), 30h (one bank) or
// 50h (no target); bits 2-4: flash ID chip none, 0-4; bit 5: chip 4 reports 256-KiB sectors;
// bit 6: bank 2 running), then the reply rules. The image is a 64-KiB boot area and 64 bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bmcsim/model/flash_layout.h"
#include "fuzz/support/fuzzed_bmc.h"
#include "fuzz/support/workspace.h"
#include "fwtool/main_flow.h"

namespace {

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
  const uint8_t chip = (setup >> 2) & 7;
  if (chip == 0 || chip > 5) {
    f.chip.index.reset();
  } else {
    f.chip.index = static_cast<uint8_t>(chip - 1);
  }
  f.chip.sectorCode = (setup & 0x20) ? bmcsim::kLargeSectorCode : 1;
  const bool dual = bmcsim::IsDualBank(identity.deviceId);
  f.bankSize = dual ? 0x80000 : 0x400000;
  f.runningBank = f.imageSelector = (dual && (setup & 0x40)) ? 2 : 1;
  f.downloaderBank = bmcsim::StandbyBank(state);
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  workspace.Clear();
  workspace.Write("mchk_fil", "Board 0100 rev A\n");
  workspace.Write("ExUpInfo.xml", "<ExUpInfo><package><version>01.10</version></package></ExUpInfo>\n");
  std::string image(0x10040, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 13 + 5) ^ (i >> 11) ^ 0x5A);
  workspace.Write("bmcfw.bin", image);

  fuzzing::RunFrame frame(nullptr, "y\n");
  fuzzing::InputBytes input(data + 2, size - 2);
  fuzzing::FuzzedBmcDriver bmc(Machine(data[1], frame.clock), frame.clock, input);
  frame.env.vendorDriver = &bmc;

  std::vector<std::string> args = Arguments(data[0]);
  std::vector<const char*> argv = {"Korvane"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  korvane::RunKorvane(static_cast<int>(argv.size()), argv.data(), frame.env);
  fuzzing::ShowRunFiles();
  return 0;
}
