#pragma once

namespace veltrop {

class SdrRun;

// Reads the whole active repository with the standard commands into the run's image (once per
// run), picking up the BMC's SDR version text and configuration name. False on failure
// (already reported as error 30); a repository beyond the record area's 65535 bytes or a
// record chain that comes back to a record already read is such a failure.
bool ReadWholeRepository(SdrRun& run);

}  // namespace veltrop
