#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "sdrtool/backup_image.h"

#include "ipmi/device_commands.h"
#include "ipmi/sdr_repository_commands.h"
#include "platform/files.h"
#include "sdrtool/repository/repository_commands.h"
#include "sdrtool/repository/repository_reader.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/sdr_parser.h"

namespace veltrop {
namespace {

constexpr uint8_t kSignature[8] = {'Q', 'Y', 'X', ' ', 'I', 'P', 'M', 'I'};
// Header bytes 8..11, the image format's fixed identification.
constexpr uint8_t kFormatBytes[4] = {0x04, 0x02, 0x09, 0x00};

void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Seconds from 1970-01-01 00:00 to the given calendar time, taken as if it were UTC: the
// image stamps local time.
int64_t SecondsSince1970(const platform::LocalTime& t) {
  // Days from the civil date (proleptic Gregorian), years counted from March.
  const int64_t y = t.year - (t.month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (t.month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + t.day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

void FillHeader(RepositoryImage& image, uint32_t createdLocal) {
  std::memset(image.header, 0, sizeof image.header);
  std::memcpy(image.header, kSignature, sizeof kSignature);
  std::memcpy(image.header + 8, kFormatBytes, sizeof kFormatBytes);
  PutLe32(image.header + 12, createdLocal);
  PutLe32(image.header + 16, static_cast<uint32_t>(kBmcInfoOffset));
  PutLe32(image.header + 20, static_cast<uint32_t>(kControlOffset));
  image.header[63] = ImageChecksum(image.header, 63);
}

// Whole record at `offset`: its body length, when header and body lie inside the area.
bool RecordFits(const std::vector<uint8_t>& area, size_t offset, int* bodyLength) {
  if (offset + kSdrHeaderBytes > area.size()) return false;
  const int body = area[offset + 4];
  if (offset + kSdrHeaderBytes + static_cast<size_t>(body) > area.size()) return false;
  *bodyLength = body;
  return true;
}

// Every record of the area must be whole and fit a record node, or it cannot be written.
bool RecordAreaProgrammable(const std::vector<uint8_t>& area) {
  size_t offset = 0;
  while (offset < area.size()) {
    int body = 0;
    if (!RecordFits(area, offset, &body) || body > kMaxSdrBodyBytes) return false;
    offset += kSdrHeaderBytes + static_cast<size_t>(body);
  }
  return true;
}

// Replaces the target whole, so a failed or short write leaves the previous backup as it
// was. kNone, or the reported error: a full disk or an I/O error is a write error (31), any
// other failure one of creating the file (78).
SdrError WriteImageFile(SdrRun& run, const std::string& path, const std::vector<uint8_t>& bytes) {
  int error = 0;
  if (platform::WriteFileAtomically(
          path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &error)) {
    return SdrError::kNone;
  }
  char detail[64];
  if (error == ENOSPC) {
    std::snprintf(detail, sizeof detail, "No Space");
    return run.errors.Report(SdrError::kBackupFileIo, 0, detail);
  }
  if (error == EIO) {
    std::snprintf(detail, sizeof detail, "_write : errno=%d", error);
    return run.errors.Report(SdrError::kBackupFileIo, 0, detail);
  }
  std::snprintf(detail, sizeof detail, "_open : errno=%d", error);
  return run.errors.Report(SdrError::kOutputImageOpenFailed, 0, detail);
}

// Reads exactly `count` bytes; a short read is reported as error 31.
bool ReadExact(SdrRun& run, std::FILE* f, uint8_t* to, size_t count) {
  errno = 0;
  if (std::fread(to, 1, count, f) == count) return true;
  char detail[48];
  std::snprintf(detail, sizeof detail, "_read : errno=%d", errno);
  run.errors.Report(SdrError::kBackupFileIo, 0, detail);
  return false;
}

bool SkipExact(SdrRun& run, std::FILE* f, uint32_t count) {
  uint8_t chunk[4096];
  while (count > 0) {
    const size_t n = count < sizeof chunk ? count : sizeof chunk;
    if (!ReadExact(run, f, chunk, n)) return false;
    count -= static_cast<uint32_t>(n);
  }
  return true;
}

// Reads the parts in file order. *oversized is set, instead of reading, when the control
// block announces more record bytes than the area holds; *trailing when bytes follow the
// last part. The verification reports both.
bool ReadImageParts(SdrRun& run, std::FILE* f, RepositoryImage& image, bool* oversized, bool* trailing) {
  if (!ReadExact(run, f, image.header, sizeof image.header)) return false;
  if (!ReadExact(run, f, image.bmcInfo, sizeof image.bmcInfo)) return false;
  if (GetLe32(image.header + 28) != 0) {
    if (!ReadExact(run, f, image.extension, sizeof image.extension)) return false;
    if (!SkipExact(run, f, GetLe32(image.extension + 20))) return false;
  }
  if (GetLe32(image.header + 20) != 0) {
    if (!ReadExact(run, f, image.control, sizeof image.control)) return false;
    const uint32_t areaLength = GetLe32(image.control + 20);
    if (areaLength > RepositoryImage::kMaxRecordArea) {
      *oversized = true;
      return true;
    }
    image.records.resize(areaLength);
    if (areaLength != 0 && !ReadExact(run, f, image.records.data(), areaLength)) return false;
  }
  *trailing = std::fgetc(f) != EOF;
  return true;
}

// The block offsets the backup writes: anything else is no image of ours, whatever its
// checksum says.
bool OffsetsAsWritten(const RepositoryImage& image) {
  const uint32_t control = GetLe32(image.header + 20);
  return GetLe32(image.header + 16) == kBmcInfoOffset && (control == kControlOffset || control == 0);
}

bool VerifyImage(SdrRun& run, const RepositoryImage& image, bool oversized, bool trailing) {
  if (std::memcmp(image.header, kSignature, sizeof kSignature) != 0) {
    run.errors.Report(SdrError::kNotABackupImage, 0, "illegal File ID");
    return false;
  }
  if (ImageChecksum(image.header, sizeof image.header) != 0) {
    run.errors.Report(SdrError::kImageChecksum, 0, "IPMI header infomation");
    return false;
  }
  if (!OffsetsAsWritten(image)) {
    run.errors.Report(SdrError::kNotABackupImage, 0, "illegal Block offset");
    return false;
  }
  if (ImageChecksum(image.control, sizeof image.control) != 0) {
    run.errors.Report(SdrError::kImageChecksum, 0, "IPMI SDR Contorol infomation");
    return false;
  }
  // No backup holds more; the area could not take it.
  if (oversized) {
    run.errors.Report(SdrError::kNotABackupImage, 0, "illegal SDR Records length");
    return false;
  }
  // Bytes after the last part mean the parts were not where the header says.
  if (trailing) {
    run.errors.Report(SdrError::kNotABackupImage, 0, "illegal File size");
    return false;
  }
  const uint8_t areaSum = static_cast<uint8_t>(0 - ImageChecksum(image.records.data(), image.records.size()));
  if (static_cast<uint8_t>(areaSum + image.control[30]) != 0) {
    run.errors.Report(SdrError::kImageChecksum, 0, "IPMI SDR Records");
    return false;
  }
  if (!RecordAreaProgrammable(image.records)) {
    run.errors.Report(SdrError::kInvalidRecordLength);
    return false;
  }
  return true;
}

}  // namespace

uint8_t ImageChecksum(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return static_cast<uint8_t>(0 - sum);
}

SdrError BackupRepository(SdrRun& run, const std::string& path) {
  RepositoryImage& image = run.image;
  std::memset(image.bmcInfo, 0, sizeof image.bmcInfo);
  std::memset(image.header, 0, sizeof image.header);

  // The information block keeps the answer from its completion code on.
  CommandCheck check;
  const ipmi::Outcome<ipmi::DeviceId> identity = SendChecked(run.commands, ipmi::GetDeviceId(), &check);
  if (!identity) {
    ReportCommandError(run, "Get Device ID", check);
    return SdrError::kAlreadyReported;
  }
  image.bmcInfo[0] = ipmi::kCcSuccess;
  std::copy(identity.value.data.begin(), identity.value.data.end(), image.bmcInfo + 1);
  const uint8_t ipmiVersion = identity.value.ipmiVersion;
  if (ipmiVersion == 0x51 || ipmiVersion == 0x02) {
    // Not every BMC knows the vendor's query: its refusal is no error.
    SendOptions quiet;
    quiet.quietCompletion = true;
    const ipmi::Outcome<wire::Bytes> oem = SendChecked(run.commands, ipmi::OemE0Info(), &check, quiet);
    uint8_t first = 0;
    if (oem && wire::ByteReader(oem.value).U8(&first)) {
      image.bmcInfo[28] = first;
      image.bmcInfo[29] = 1;
    }
  }
  image.bmcInfo[30] = identity.value.hasAuxRevision ? 1 : 0;
  image.bmcInfo[31] = ImageChecksum(image.bmcInfo, 31);

  if (!ReadWholeRepository(run)) return SdrError::kAlreadyReported;

  // An image without the repository's own description would be no backup: a failed query
  // fails the backup.
  std::memset(image.control, 0, sizeof image.control);
  const ipmi::Outcome<ipmi::RepositoryInfo> info =
      SendChecked(run.commands, ipmi::GetSdrRepositoryInfo(), &check);
  if (!info) {
    ReportCommandError(run, "Get SDR Repository Info", check);
    return SdrError::kAlreadyReported;
  }
  image.control[0] = ipmi::kCcSuccess;
  std::copy(info.value.data.begin(), info.value.data.end(), image.control + 1);
  PutLe32(image.control + 16, static_cast<uint32_t>(RepositoryImage::kBlockSize));
  PutLe32(image.control + 20, static_cast<uint32_t>(image.records.size()));
  image.control[30] = ImageChecksum(image.records.data(), image.records.size());
  image.control[31] = ImageChecksum(image.control, 31);

  FillHeader(image, static_cast<uint32_t>(SecondsSince1970(run.ctx.clock.Local())));

  std::vector<uint8_t> bytes;
  bytes.reserve(kRecordAreaOffset + image.records.size());
  bytes.insert(bytes.end(), image.header, image.header + sizeof image.header);
  bytes.insert(bytes.end(), image.bmcInfo, image.bmcInfo + sizeof image.bmcInfo);
  bytes.insert(bytes.end(), image.control, image.control + sizeof image.control);
  bytes.insert(bytes.end(), image.records.begin(), image.records.end());
  if (WriteImageFile(run, path, bytes) != SdrError::kNone) return SdrError::kAlreadyReported;

  run.Log("SDR backup complete.");
  return SdrError::kNone;
}

bool LoadBackupImage(SdrRun& run, const std::string& path) {
  RepositoryImage& image = run.image;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    run.errors.Report(SdrError::kInputFileOpenFailed, 0, path.c_str());
    return false;
  }
  image = RepositoryImage();
  bool oversized = false;
  bool trailing = false;
  const bool read = ReadImageParts(run, f, image, &oversized, &trailing);
  std::fclose(f);
  if (!read || !VerifyImage(run, image, oversized, trailing)) {
    // Only a verified image may stand for the repository's records.
    image.records.clear();
    return false;
  }
  return true;
}

SdrError BuildListFromImage(SdrRun& run, SdrRecordList* list) {
  const std::vector<uint8_t>& area = run.image.records;
  list->clear();
  // One pass in record order; walking by index would rescan the area for every record.
  size_t offset = 0;
  try {
    while (offset < area.size()) {
      int body = 0;
      if (!RecordFits(area, offset, &body) || body > kMaxSdrBodyBytes) return SdrError::kInvalidRecordLength;
      SdrRecord record;
      record.length = body;
      std::memcpy(record.bytes, area.data() + offset, kSdrHeaderBytes + static_cast<size_t>(body));
      list->push_back(record);
      offset += kSdrHeaderBytes + static_cast<size_t>(body);
    }
  } catch (const std::bad_alloc&) {
    return SdrError::kInsufficientMemory;
  }
  ScanSdrVersion(run, *list);
  return SdrError::kNone;
}

}  // namespace veltrop
