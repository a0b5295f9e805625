#pragma once
#include <cstdint>
#include <string>

#include "sdrtool/sdr_record.h"

namespace veltrop {

class SdrRun;

// The read-back refuses repositories whose records add up to more than this.
constexpr size_t kMaxReadBackBytes = 65535;

// Builds the record list from the SDR file (or the loaded image), compares versions, then
// writes, reads back and verifies under the spared repository's update lock, or (compareOnly)
// only reads back and compares. 0 on success; failures are already reported.
int ProgramSdrFile(SdrRun& run, const std::string& fileName, const SetNameList* names, bool compareOnly);

// Erases the spared repository and writes the records into it. 0, 25 or 81.
int WriteRepository(SdrRun& run, const SdrRecordList& records);
// Reads the repository (the spared one while the update lock is held) into *records, in
// repository order. 0, or an error number not yet reported (2, 4, 5, 29, 58) or 81.
int ReadRepository(SdrRun& run, bool spared, SdrRecordList* records);
// Compares the read-back records with the file's record by record, record IDs aside.
// 0 when equal, 58 when a length differs, 81 for a byte or a record count that differs.
int VerifyRecords(SdrRun& run, const SdrRecordList& readBack, const SdrRecordList& fromFile);
// Logs the text and copies it unchanged to the transcript.
void WriteMessage(SdrRun& run, const std::string& text);

}  // namespace veltrop
