#include "fwtool/version_check.h"

#include <cstring>
#include <string>

#include "fwtool/fw_run.h"
#include "fwtool/package_version.h"

namespace korvane {

int CompareBmcVersion(FwRun& run) {
  const RunMode mode = run.settings.mode;
  if (mode != RunMode::GetVersion && mode != RunMode::UpdateNormal) return 0;

  char package[8] = {};
  const int read = ReadExUpInfoVersion(package, run.ctx.console);
  if (read != 0) {
    FwCode code = FwCode::kVersionError;
    if (read == -1) {
      run.Log("=== COM Initialize error.(C20) ===");
      code = FwCode::kExUpInfoOpen;
    } else if (read == -2) {
      run.Log("=== File open error.(C20) ===");
      code = FwCode::kExUpInfoOpen;
    } else if (read == -3) {
      code = FwCode::kVersionMissing;
    }
    run.Report(code);
    run.Log("=== CompareBmcVersion() failed. ===");
    return 1;
  }

  const std::string& bmc = run.identity.firmwareVersion;
  const int cmp = std::strcmp(bmc.c_str(), package);
  if (mode == RunMode::UpdateNormal) {
    if (cmp < 0) {
      run.Log("=== CompareBmcVersion() success. ===");
      return 0;
    }
    run.ctx.reporter.WriteModeResult("Down Grade", "", bmc);
    return 1;
  }
  run.ctx.reporter.WriteModeResult("OK", cmp == 0 ? "Even" : (cmp < 0 ? "Upper" : "Lower"), bmc);
  return 1;
}

}  // namespace korvane
