#pragma once
#include <string>

namespace veltrop {

class CProto;

// Asks the BMC for its identity and looks its hardware ID up in mchk_fil. 0, or 1 when the
// run cannot go on (result code already reported).
int GetBmcStatus(CProto& proto);

// Fills BmcSdrVersionText and RepositoryCfgName from the version cache "sdrversion_HW"
// while its timestamps match the repository's, else from the repository itself (and then
// rewrites the cache). False when the repository read failed (already reported).
bool LoadBmcSdrVersion(CProto& proto);

// Compares the input's SDR version with the BMC's. 0: go ahead and program; 1: stop, the
// outcome is already written (version answer, "Down Grade", "SDRC07").
int CompareSDRVersion(CProto& proto);

// Version texts are compared by their characters from position 12 (at most 5 of them) when
// they are long enough to have any.
std::string NormaliseVersionText(const std::string& text);

}  // namespace veltrop
