#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sdrtool/sdr_record.h"

namespace veltrop {

class SdrRun;

// The backup image of a BMC's SDR repository as held in memory for the run: header, BMC
// information block, SDR control block and the record area. Filled at most once per run,
// by reading the repository or by loading an image file.
struct RepositoryImage {
  static constexpr size_t kHeaderSize = 64;
  static constexpr size_t kBlockSize = 32;
  // The file keeps the record area's length in 16 bits.
  static constexpr size_t kMaxRecordArea = 65535;
  uint8_t header[kHeaderSize] = {};
  uint8_t bmcInfo[kBlockSize] = {};
  uint8_t extension[kBlockSize] = {};
  uint8_t control[kBlockSize] = {};
  std::vector<uint8_t> records;  // the record area; empty until read or loaded
};

// File offsets of the parts written by the backup.
constexpr size_t kBmcInfoOffset = 64;
constexpr size_t kControlOffset = 96;
constexpr size_t kRecordAreaOffset = 128;

// Two's complement of the 8-bit sum, so the covered bytes and the checksum sum to 0.
uint8_t ImageChecksum(const uint8_t* bytes, size_t count);

// Reads the whole repository into the run's image (once per run), picking up the BMC's SDR
// version text and configuration name. False on failure (already reported); a repository
// beyond the record area's 65535 bytes or a record chain that comes back to a record
// already read is such a failure.
bool ReadWholeRepository(SdrRun& run);

// The backup run: identity, repository and control block into an image file, replaced only
// once the new image is complete. 0 or 81.
int BackupRepository(SdrRun& run, const std::string& path);

// Loads and verifies an image file into the run's image. False on failure (reported); an
// image whose records cannot be programmed as they stand is refused here.
bool LoadBackupImage(SdrRun& run, const std::string& path);

// Record at index: offset in the record area and body length of record `index`; false
// past the last whole record.
bool RecordAt(const RepositoryImage& image, size_t index, size_t* offset, int* bodyLength);

// The record list of the loaded image, scanned for the SDR version record. 0, or 2 (no
// memory) / 58 (a record longer than a record holds), not yet reported.
int BuildListFromImage(SdrRun& run, SdrRecordList* list);

}  // namespace veltrop
