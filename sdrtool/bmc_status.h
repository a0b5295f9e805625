#pragma once
#include <string>

namespace veltrop {

class SdrRun;

// Asks the BMC for its identity and looks its hardware ID up in mchk_fil. 0, or 1 when the
// run cannot go on (result code already reported).
int GetBmcStatus(SdrRun& run);

// Compares the input's SDR version with the BMC's. 0: go ahead and program; 1: stop, the
// outcome is already written (version answer, "Down Grade", "SDRC07").
int CompareSDRVersion(SdrRun& run);

// Version texts are compared by their characters from position 12 (at most 5 of them) when
// they are long enough to have any.
std::string NormaliseVersionText(const std::string& text);

}  // namespace veltrop
