#pragma once

namespace korvane {

class FwRun;

// Compares the running firmware's version with the package's (ExUpInfo.xml). 0: go on (an
// update that raises the version, or a mode that does not compare); 1: stop, the outcome is
// written (the version answer, "Down Grade", or C20-C22).
int CompareBmcVersion(FwRun& run);

}  // namespace korvane
