#pragma once
#include <cstdint>

#include "sdrtool/error_catalogue.h"
#include "sdrtool/sdr_record.h"

namespace veltrop {

class SdrRun;
class TextFile;

// Manufacturer bytes 5..7 of this vendor's OEM records (type C0h), least significant first.
constexpr uint8_t VendorManufacturerId[3] = {0x2D, 0x9B, 0x4E};
// Byte 8 of such a record: the kind of text it carries.
constexpr uint8_t kSdrVersionMarker = 0x53;  // "S": the SDR version text, from byte 8
constexpr uint8_t kCfgNameMarker = 0x16;     // configuration file name, from byte 9

// True when record is this vendor's OEM record (type C0h) with the marker in byte 8.
bool IsVendorTextRecord(const uint8_t* record, uint8_t marker);

// Counts every record of the list into the run's file record count and, while the input's
// SDR version text is empty, takes the text of the first SDR version record: from byte 8 to
// the record's end (body length + 5) or an earlier NUL byte. Runs after a parse and after a
// backup image was loaded.
void ScanSdrVersion(SdrRun& run, const SdrRecordList& list);

// Parses the open SDR text file into *list, keeping tagged records selected by names (none:
// only untagged records), then scans it for the version. The file is closed afterwards.
// kNone; kAlreadyReported for failures already reported (the header's, the file's reading
// problems); else the failure, for the caller to report. *list is left empty on failure.
SdrError ParseSdrText(SdrRun& run, TextFile& file, const SetNameList* names, SdrRecordList* list);

}  // namespace veltrop
