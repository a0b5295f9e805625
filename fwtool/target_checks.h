#pragma once

namespace korvane {

class FwRun;

// Each returns 0, or 1 after reporting its result code.

// Loads bmcfw.bin (not in the query modes): a missing, empty, oversized or short-read file
// is refused (C7) before anything is sent.
int OpFileCheck(FwRun& run);
// Get Device ID and the hardware ID's place in mchk_fil; before an update, Get Device ID
// once more, which must name the same device, version and product (C15 otherwise).
int GetBmcStatus(FwRun& run);

}  // namespace korvane
