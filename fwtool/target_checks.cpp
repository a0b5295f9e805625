#include "fwtool/target_checks.h"

#include <algorithm>
#include <cstdio>

#include "fwtool/fw_run.h"
#include "ipmi/device_commands.h"
#include "runcontrol/bmc_status.h"

namespace korvane {
namespace {

int RefuseImage(FwRun& run, const std::string& why) {
  run.Log(why);
  run.Report(FwCode::kImageFile);
  return 1;
}

// The device ID decides one bank or two, and so the whole range an update erases; the version
// decides a -normal update: before an update they are asked again and must be the same.
bool SameIdentityAgain(FwRun& run, const ipmi::DeviceId& first) {
  const ipmi::Outcome<ipmi::DeviceId> again = run.Send(ipmi::GetDeviceId());
  if (!again) return false;
  const ipmi::DeviceId& second = again.value;
  if (second.deviceId == first.deviceId && second.FirmwareVersion() == first.FirmwareVersion() &&
      second.productId == first.productId)
    return true;
  run.Log("Get Device ID was answered differently when asked again.");
  return false;
}

}  // namespace

int OpFileCheck(FwRun& run) {
  if (run.settings.mode == RunMode::GetVersion || run.settings.mode == RunMode::GetRatio) return 0;
  std::FILE* f = std::fopen(run.files.image.c_str(), "rb");
  if (!f) {
    run.Report(FwCode::kImageFile);
    return 1;
  }
  // Read as far as one byte past the limit, in pieces: only what the file holds is kept.
  std::vector<uint8_t>& bytes = run.image.bytes;
  bytes.clear();
  std::vector<uint8_t> piece(0x10000);
  size_t read = 0;
  for (size_t n = 1; n > 0 && read <= FirmwareImage::kBufferSize; read += n) {
    n = std::fread(piece.data(), 1, std::min(piece.size(), FirmwareImage::kBufferSize + 1 - read), f);
    bytes.insert(bytes.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
  }
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
  const runcontrol::BmcStatusCheck check = runcontrol::CheckBmcStatus(run.sender, run.files.hardwareList);
  FwCode code = FwCode::kGetDeviceId;
  switch (check.status) {
    case runcontrol::BmcStatus::kTarget:
      if (run.settings.mode != RunMode::GetVersion && !SameIdentityAgain(run, check.identity))
        return ReportFailedExchange(run, FwCode::kGetDeviceId);
      run.identity.deviceId = check.identity.deviceId;
      run.identity.firmwareVersion = check.identity.FirmwareVersion();
      run.identity.hardwareId = check.identity.HardwareId();
      run.Log("=== GetBmcStatus() success. ===");
      return 0;
    case runcontrol::BmcStatus::kDriverUnreachable:
      code = FwCode::kDriverUnavailable;
      break;
    case runcontrol::BmcStatus::kNoIdentity:
      code = FwCode::kGetDeviceId;
      break;
    case runcontrol::BmcStatus::kHardwareListUnreadable:
      code = FwCode::kHardwareListMissing;
      break;
    case runcontrol::BmcStatus::kNotListed:
      code = FwCode::kNotTargetHardware;
      break;
  }
  return ReportFailedExchange(run, code);
}

}  // namespace korvane
