#pragma once
#include <cstdint>

#include "sdrtool/sens_data.h"

namespace veltrop {

class VeltropRun;

// Manufacturer bytes 5..7 of this vendor's OEM records (type C0h), least significant first.
constexpr uint8_t VendorManufacturerId[3] = {0x2D, 0x9B, 0x4E};
// Byte 8 of such a record: the kind of text it carries.
constexpr uint8_t kSdrVersionMarker = 0x53;  // "S": the SDR version text, from byte 8
constexpr uint8_t kCfgNameMarker = 0x16;     // configuration file name, from byte 9

// True when record is this vendor's OEM record (type C0h) with the marker in byte 8.
bool IsVendorTextRecord(const uint8_t* record, uint8_t marker);

// Counts every node of the list into FileRecordCount and, while SdrVersionText is empty, takes
// the text of the first SDR version record: from byte 8 to the record's end (body length + 5)
// or an earlier NUL byte. Runs after a parse and after a backup image was loaded.
void ScanSdrVersion(VeltropRun& run, const SensData* head);

}  // namespace veltrop
