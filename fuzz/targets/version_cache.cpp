// The version cache sdrversion_HW. Input: the file. The repository's timestamps are 1234h and
// 5678h; a cache that does not match them, or is refused, is replaced by reading the honest
// in-memory BMC's repository.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzzed_bmc.h"
#include "fuzz/support/sdr_bmc.h"
#include "fuzz/support/workspace.h"
#include "sdrtool/version_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  workspace.Clear();
  workspace.Write(veltrop::kVersionCacheFile, data, size);
  fuzzing::InputBytes honest(nullptr, 0);
  fuzzing::BoundedClock bmcClock;
  fuzzing::FuzzedBmcDriver bmc(fuzzing::SdrToolBmc(bmcClock, true), bmcClock, honest);
  fuzzing::RunFrame frame(&bmc);
  auto run = fuzzing::OfflineSdrRun(frame.env, veltrop::ModeVersion);
  run->bmc.additionTimestamp = 0x1234;
  run->bmc.eraseTimestamp = 0x5678;
  if (!veltrop::LoadBmcSdrVersion(*run)) fuzzing::Die("the honest repository could not be read");
  if (run->bmc.sdrVersionText.empty()) fuzzing::Die("no version from cache or repository");
  if (run->bmc.sdrVersionText.size() > 252 || run->bmc.cfgName.size() > 252)
    fuzzing::Die("a cached text longer than a cache line holds");
  return 0;
}
