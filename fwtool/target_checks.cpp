#include "fwtool/target_checks.h"

#include <cstdio>

#include "fwtool/fw_run.h"
#include "runcontrol/device_identity.h"
#include "runcontrol/hardware_list.h"
#include "transport/log_exchange.h"

namespace korvane {
namespace {

constexpr uint8_t kNetFnFirmware = 0x08;
constexpr uint8_t kCmdFwIdChip = 0x00;
constexpr uint8_t kLargeChipIndex = 4;
constexpr uint32_t kSmallSector = 0x10000;
constexpr uint32_t kLargeSector = 0x40000;

int RefuseImage(FwRun& run, const std::string& why) {
  run.Log(why);
  run.Report("C7");
  return 1;
}

}  // namespace

int OpFileCheck(FwRun& run) {
  if (run.settings.mode == RunMode::GetVersion || run.settings.mode == RunMode::GetRatio) return 0;
  std::FILE* f = std::fopen(run.files.image.c_str(), "rb");
  if (!f) {
    run.Report("C7");
    return 1;
  }
  std::vector<uint8_t>& bytes = run.image.bytes;
  bytes.assign(FirmwareImage::kBufferSize + 1, 0);
  const size_t read = std::fread(bytes.data(), 1, bytes.size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  // What was not read whole would be written as zeros and then "verified" against itself.
  if (failed) {
    bytes.clear();
    return RefuseImage(run, "bmcfw.bin could not be read to its end.");
  }
  if (read > FirmwareImage::kBufferSize) {
    bytes.clear();
    return RefuseImage(run, "bmcfw.bin is larger than 8 MiB.");
  }
  bytes.resize(read);
  if (bytes.empty()) return RefuseImage(run, "bmcfw.bin is empty.");
  run.Log("=== OpFileCheck() success. ===");
  return 0;
}

int GetBmcStatus(FwRun& run) {
  runcontrol::DeviceIdentity id;
  transport::IpmiRequest request;
  transport::IpmiResponse response;
  const char* code = nullptr;
  switch (runcontrol::QueryDeviceIdentity(run.ctx.transport, &id, &request, &response)) {
    case runcontrol::IdentityResult::kDriverUnreachable:
      code = "C2";
      break;
    case runcontrol::IdentityResult::kTransferFailed:
    case runcontrol::IdentityResult::kBadAnswer:
      code = "C15";
      break;
    case runcontrol::IdentityResult::kOk:
      run.identity.deviceId = id.deviceId;
      run.identity.firmwareVersion = id.FirmwareVersion();
      run.identity.hardwareId = id.HardwareId();
      switch (runcontrol::FindHardwareId(run.files.hardwareList, run.identity.hardwareId)) {
        case runcontrol::HardwareListResult::kUnreadable:
          code = "C6";
          break;
        case runcontrol::HardwareListResult::kNotListed:
          code = "C3";
          break;
        case runcontrol::HardwareListResult::kListed:
          run.Log("=== GetBmcStatus() success. ===");
          return 0;
      }
      break;
  }
  run.Report(code);
  transport::LogExchange([&run](const std::string& line) { run.Log(line); }, "  ", request.bytes,
                         request.length, response.bytes, response.length);
  return 1;
}

int CheckIdChip(FwRun& run) {
  const uint8_t probes = IsDualBank(run.identity.deviceId) ? 5 : 3;
  Exchange last;
  uint8_t index = 0;
  for (; index < probes; ++index) {
    last = Send(run, kNetFnFirmware, kCmdFwIdChip, {index});
    if (last.status != transport::kExchangeOk || last.response.length < 3) {
      ReportFailedExchange(run, "C16", last);
      return 1;
    }
    // The completion code is not examined: a chip that is not fitted simply does not echo.
    uint8_t echoed = 0;
    if (last.DataByte(1, &echoed) && echoed == index) break;
  }
  FlashLayout& layout = run.layout;
  layout.flashType = index;
  uint8_t sizeCode = 1;
  layout.sectorSize = kSmallSector;
  if (index == kLargeChipIndex) {
    uint8_t sectorCode = 0;
    // The large chip names its geometry in data bytes 2 and 3; without them it is unknown.
    if (!last.DataByte(2, &sizeCode) || !last.DataByte(3, &sectorCode)) {
      ReportFailedExchange(run, "C16", last);
      return 1;
    }
    layout.sectorSize = sectorCode == 2 ? kLargeSector : kSmallSector;
  }
  layout.bootBlockSize = sizeCode == 3 ? kLargeSector : kSmallSector;
  uint8_t shownType = 0;
  last.DataByte(2, &shownType);
  char line[128];
  std::snprintf(line, sizeof line, "Flash Type : 0x%x Sector Size : 0x%x BootBlock Size : 0x%x", shownType,
                layout.sectorSize, layout.bootBlockSize);
  run.Log(line);
  run.Log("=== CheckIdChip() success. ===");
  return 0;
}

}  // namespace korvane
