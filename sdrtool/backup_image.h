#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sdrtool/error_catalogue.h"
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

// The backup run: identity, repository and control block into an image file, replaced only
// once the new image is complete. kNone, or kAlreadyReported.
SdrError BackupRepository(SdrRun& run, const std::string& path);

// Loads and verifies an image file into the run's image. False on failure (reported); an
// image whose records cannot be programmed as they stand is refused here.
bool LoadBackupImage(SdrRun& run, const std::string& path);

// The record list of the loaded image, scanned for the SDR version record. kNone, or
// kInsufficientMemory / kInvalidRecordLength (a record longer than a record holds), not yet
// reported.
SdrError BuildListFromImage(SdrRun& run, SdrRecordList* list);

}  // namespace veltrop
