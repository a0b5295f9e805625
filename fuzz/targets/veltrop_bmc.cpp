// Whole veltrop runs against a BMC whose replies come from the fuzz input (see FuzzedBmcDriver).
// Input: a mode byte (update -force, backup, version query, update, update -force with a
// script, -direct -force, update -force from a backup image that an honest backup run made
// first), a setup byte (bit 0: the repository starts with records; bit 1:
// -test; bit 2: a version cache matching the repository), then the reply rules.
//
// An update reported "Complete" must leave the BMC's repository holding what an honest forced
// update from the same input leaves (record IDs aside); otherwise the target stops the process
// as a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/support/fuzzed_bmc.h"
#include "fuzz/support/sdr_bmc.h"
#include "fuzz/support/workspace.h"
#include "sdrtool/main_flow.h"
#include "sdrtool/version_cache.h"

namespace {

constexpr const char* kSdrFile =
    "_LF_NAME 'fuzz'\n_LF_VERSION '1.0'\n_LF_FMT_VER '1.5'\n_SDR_VERSION '1.50'\n_SDR\n(\n"
    "_START_ADDR 0000\n_DATA_LEN 1000\n_NVS_TYPE 'IMBDEVICE'\n_DEV_BUS 00\n_DEV_ADDRESS 20\n"
    "_SDR_TYPE C0\n _REC_LEN 19\n 00 00 51 C0 14 2D 9B 4E 'S2026120700002.00'\n"
    "_SDR_TYPE 12\n _REC_LEN 13\n 00 00 51 12 0E 20 00 00 00 00 00 00 2E 01 00 C3 'BMC'\n"
    "_SDR_TYPE 02 _SDR_TAG 'CPU1'\n _REC_LEN 29\n 00 00 51 02 24 20 00 01 03 01 67 68 01 01 80 0A\n"
    " 80 0A 12 12 80 01 00 01 00 00 00 00 00 00 00 C9 'CPU1 Temp'\n"
    "_SDR_TYPE 02\n _REC_LEN 2B\n 00 00 51 02 26 20 00 30 07 01 67 68 01 01 80 0A\n"
    " 80 0A 12 12 80 01 00 01 00 00 00 00 00 00 00 CB 'System Temp'\n)\n";

constexpr const char* kScript =
    "CONFIGURATION fuzz\nSET CPU1\nSDRNAME fuzz.sdr\nSDRNAME fuzz.sdr LAST COMPARE\n";

std::vector<std::string> Arguments(uint8_t mode) {
  switch (mode % 7) {
    case 0:
      return {"-update", "-force", "-sdr", "fuzz.sdr"};
    case 1:
      return {"-backup", "fuzz.bak"};
    case 2:
      return {"-version", "-sdr", "fuzz.sdr"};
    case 3:
      return {"-update", "-sdr", "fuzz.sdr"};
    case 4:
      return {"-update", "-force", "-cfg", "fuzz.cfg"};
    case 5:
      return {"-direct", "-force", "-sdr", "fuzz.sdr"};
    default:
      return {"-update", "-force", "-bin", "fuzz.bak"};
  }
}

// A fresh workspace with the run's input files; for an update from a backup image, the image
// the honest BMC's own backup makes.
void PrepareWorkspace(uint8_t mode) {
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  workspace.Clear();
  workspace.Write("mchk_fil", "Board 0100 rev A\n");
  workspace.Write("ExUpInfo.xml", "<ExUpInfo><package><version>01.10</version></package></ExUpInfo>\n");
  workspace.Write("fuzz.sdr", kSdrFile);
  workspace.Write("fuzz.cfg", kScript);
  if (mode % 7 != 6) return;
  fuzzing::RunFrame backupFrame(nullptr);
  fuzzing::InputBytes none(nullptr, 0);
  fuzzing::FuzzedBmcDriver honest(fuzzing::SdrToolBmc(backupFrame.clock, true), backupFrame.clock, none);
  backupFrame.env.vendorDriver = &honest;
  const char* backupArgs[] = {"veltrop", "-backup", "fuzz.bak"};
  veltrop::RunVeltrop(3, backupArgs, backupFrame.env);
}

std::vector<bmcsim::SdrRecord> WithoutIds(std::vector<bmcsim::SdrRecord> records) {
  for (bmcsim::SdrRecord& r : records) bmcsim::SetRecordId(&r, 0);
  return records;
}

// What an honest forced update from the input of this mode (SDR file, script or backup image)
// leaves in the repository, record IDs aside; made once per input kind.
const std::vector<bmcsim::SdrRecord>& HonestRepository(uint8_t mode) {
  static const uint8_t kForced[3] = {0, 4, 6};
  const int kind = mode == 4 ? 1 : mode == 6 ? 2 : 0;
  static std::vector<bmcsim::SdrRecord> made[3];
  static bool done[3] = {};
  if (done[kind]) return made[kind];
  PrepareWorkspace(kForced[kind]);
  fuzzing::RunFrame frame(nullptr, "y\n");
  fuzzing::InputBytes none(nullptr, 0);
  fuzzing::FuzzedBmcDriver honest(fuzzing::SdrToolBmc(frame.clock, true), frame.clock, none);
  frame.env.vendorDriver = &honest;
  std::vector<std::string> args = Arguments(kForced[kind]);
  std::vector<const char*> argv = {"veltrop"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  veltrop::RunVeltrop(static_cast<int>(argv.size()), argv.data(), frame.env);
  if (fuzzing::ResultCode("Update_force.xml") != "Complete") fuzzing::Die("the honest forced update failed");
  made[kind] = WithoutIds(honest.state().active.records);
  done[kind] = true;
  return made[kind];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  PrepareWorkspace(data[0]);

  fuzzing::RunFrame frame(nullptr, "y\n");
  fuzzing::InputBytes input(data + 2, size - 2);
  bmcsim::BmcState state = fuzzing::SdrToolBmc(frame.clock, data[1] & 1);
  if (data[1] & 4) {
    char stamps[32];
    std::snprintf(stamps, sizeof stamps, "%04x\n%04x\n", state.active.additionStamp, state.active.eraseStamp);
    workspace.Write(veltrop::kVersionCacheFile, std::string(stamps) + "S2025061800001.20\nSVR0100\n");
  }
  fuzzing::FuzzedBmcDriver bmc(std::move(state), frame.clock, input);
  frame.env.vendorDriver = &bmc;

  std::vector<std::string> args = Arguments(data[0]);
  if (data[1] & 2) args.push_back("-test");
  std::vector<const char*> argv = {"veltrop"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  veltrop::RunVeltrop(static_cast<int>(argv.size()), argv.data(), frame.env);
  fuzzing::ShowRunFiles();

  // -direct reports no result: only the managed updates say "Complete".
  const uint8_t mode = data[0] % 7;
  const bool complete =
      fuzzing::ResultCode(mode == 3 ? "Update_normal.xml" : "Update_force.xml") == "Complete";
  if (complete && (mode == 0 || mode == 3 || mode == 4 || mode == 6) &&
      WithoutIds(bmc.state().active.records) != HonestRepository(mode)) {
    fuzzing::Die("complete, but the repository does not hold the input's records");
  }
  return 0;
}
