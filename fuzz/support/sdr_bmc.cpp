#include "fuzz/support/sdr_bmc.h"

#include <string>

namespace fuzzing {

bmcsim::BmcState SdrToolBmc(platform::Clock& clock, bool withRecords) {
  bmcsim::DeviceIdentity identity;
  identity.deviceId = 0x20;
  identity.ipmiVersion = 0x51;
  identity.productId = 0x0100;
  bmcsim::BmcSettings settings;
  settings.erasePolls = 1;
  bmcsim::BmcState state = bmcsim::FreshState(identity, settings, clock);
  if (!withRecords) return state;
  const std::string version = "S2025061800001.20";
  bmcsim::SdrRecord versionRecord = {0x01, 0x00, 0x51, 0xC0, static_cast<uint8_t>(3 + version.size()),
                                     0x2D, 0x9B, 0x4E};
  versionRecord.insert(versionRecord.end(), version.begin(), version.end());
  const std::string cfg = "SVR0100";
  bmcsim::SdrRecord cfgRecord = {0x02, 0x00, 0x51, 0xC0, static_cast<uint8_t>(4 + cfg.size()),
                                 0x2D, 0x9B, 0x4E, 0x16};
  cfgRecord.insert(cfgRecord.end(), cfg.begin(), cfg.end());
  bmcsim::SdrRecord sensor = {0x03, 0x00, 0x51, 0x12, 0x0E, 0x20, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x2E, 0x01, 0x00, 0xC3, 'B',  'M',  'C'};
  // Its length byte counts every byte after the header: a repository read with Get SDR holds
  // the whole record, as a real BMC's does.
  bmcsim::SdrRecord temp = {0x04, 0x00, 0x51, 0x02, 0x1E, 0x20, 0x00, 0x01, 0x03, 0x01, 0x67, 0x68,
                            0x01, 0x01, 0x80, 0x0A, 0x80, 0x0A, 0x12, 0x12, 0x80, 0x01, 0x00, 0x01,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3, 'C',  'P',  'U'};
  state.active.records = {versionRecord, cfgRecord, sensor, temp};
  return state;
}

std::unique_ptr<veltrop::SdrRun> OfflineSdrRun(runcontrol::RunEnvironment& env, veltrop::SdrMode mode) {
  auto run = std::make_unique<veltrop::SdrRun>(env);
  run->settings.mode = mode;
  run->settings.DirectMode = true;
  run->ApplySettings();
  return run;
}

}  // namespace fuzzing
