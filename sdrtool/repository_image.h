#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace veltrop {

class CProto;
class SDRFile;

// The backup image of a BMC's SDR repository as held in memory for the run: header, BMC
// information block, SDR control block and the record area. Filled at most once per run,
// by reading the repository or by loading an image file.
struct RepositoryImage {
  static constexpr size_t kMaxRecordArea = 65535;
  uint8_t header[64] = {};
  uint8_t bmcInfo[32] = {};
  uint8_t extension[32] = {};
  uint8_t control[32] = {};
  std::vector<uint8_t> records;  // the record area; empty until read or loaded
};

// Reads the whole repository into the run's image (once per run), picking up the BMC's SDR
// version text and configuration name. False on failure (already reported).
bool ReadWholeRepository(CProto& proto);

// The backup run: identity, repository and control block into an image file. 0 or 81.
int BackupRepository(CProto& proto, const std::string& path);

// Loads and verifies an image file into the run's image. False on failure (reported).
bool LoadBackupImage(CProto& proto, const std::string& path);

// Builds sdr.FileList from the loaded image and scans it for the SDR version record.
int BuildListFromImage(SDRFile& sdr);

}  // namespace veltrop
