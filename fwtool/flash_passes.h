#pragma once
#include <cstdint>

namespace korvane {

class FwRun;

// The three passes over one bank; each returns 0, or 1 after reporting its code (C8, C9,
// C10) and logging the last exchange.
int EraseBmcData(FwRun& run);
int UpdateBmcData(FwRun& run);
int VerifyWriteData(FwRun& run);

// Reads a written chunk back: 0 when the flash holds the image bytes, 1 on failure, 2 when
// it differs (the chunk is written again). An answer of the wrong length differs.
int ReadBackChunk(FwRun& run, uint32_t address, uint32_t count);

enum class Phase { kErase = 1, kWrite = 2, kVerify = 3 };
// The progress of a pass: the ratio for the manager in the update modes, a console line in
// an operator run.
void ShowProgress(FwRun& run, uint32_t address, uint64_t total, Phase phase);

}  // namespace korvane
