#pragma once

namespace veltrop {

class SdrRun;

// The version cache "sdrversion_HW" keeps the BMC's SDR version text and configuration name
// with the repository timestamps they belong to, so a version query need not read the
// whole repository.
constexpr const char* kVersionCacheFile = "sdrversion_HW";

// Fills the BMC's SDR version text and configuration name from the version cache while its
// timestamps match the repository's, else from the repository itself (and then rewrites the
// cache). False when the repository read failed (already reported).
bool LoadBmcSdrVersion(SdrRun& run);

}  // namespace veltrop
