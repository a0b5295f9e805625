#pragma once
#include <cstdint>
#include <string>

#include "sdrtool/error_catalogue.h"
#include "sdrtool/sdr_record.h"

namespace veltrop {

class SdrRun;

// The read-back refuses repositories whose records add up to more than this.
constexpr size_t kMaxReadBackBytes = 65535;

// Builds the record list from the SDR file (or the loaded image), compares versions, then
// writes, reads back and verifies under the spared repository's update lock, or (compareOnly)
// only reads back and compares. kNone on success; a failure is already reported.
SdrError ProgramSdrFile(SdrRun& run, const std::string& fileName, const SetNameList* names, bool compareOnly);

// Erases the spared repository and writes the records into it. kNone, kClearFailed (reported)
// or kAlreadyReported.
SdrError WriteRepository(SdrRun& run, const SdrRecordList& records);
// Reads the repository (the spared one while the update lock is held) into *records, in
// repository order. kNone, or an error not yet reported (2, 4, 5, 29, 58) or kAlreadyReported.
SdrError ReadRepository(SdrRun& run, bool spared, SdrRecordList* records);
// Compares the read-back records with the file's record by record, record IDs aside. kNone
// when equal, kInvalidRecordLength when a length differs, kAlreadyReported (the Verify line)
// for a byte or a record count that differs.
SdrError VerifyRecords(SdrRun& run, const SdrRecordList& readBack, const SdrRecordList& fromFile);
// Logs the text and copies it unchanged to the transcript.
void WriteMessage(SdrRun& run, const std::string& text);

}  // namespace veltrop
