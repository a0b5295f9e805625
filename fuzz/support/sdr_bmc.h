#pragma once
#include <memory>

#include "bmcsim/model/bmc_state.h"
#include "platform/clock.h"
#include "sdrtool/sdr_run.h"

namespace fuzzing {

// A BMC for the SDR tool's targets: product 0100h (listed in the mchk_fil the targets write)
// and a small repository holding this vendor's SDR version and configuration name records
// and two sensors, so that version queries find a version and backups have records to read.
bmcsim::BmcState SdrToolBmc(platform::Clock& clock, bool withRecords);

// A veltrop run context in the given mode whose failures go to the log only (no result files).
std::unique_ptr<veltrop::SdrRun> OfflineSdrRun(runcontrol::RunEnvironment& env, veltrop::SdrMode mode);

}  // namespace fuzzing
