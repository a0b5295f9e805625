#include "sdrtool/repository/repository_reader.h"

#include <cstdio>
#include <string>
#include <vector>

#include "sdrtool/backup_image.h"
#include "sdrtool/repository/record_chain.h"
#include "sdrtool/repository/repository_commands.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/sdr_parser.h"

namespace veltrop {
namespace {

constexpr const char* kReadCommandName = "Get SDR or Reserve SDR Repository";
constexpr int kVersionKnownRatio = 30;

// Text of an OEM record from `from` to the record's end or an earlier NUL byte.
std::string RecordText(const wire::Bytes& record, size_t from) {
  std::string text;
  for (size_t i = from; i < record.size() && record[i] != 0; ++i)
    text.push_back(static_cast<char>(record[i]));
  return text;
}

// The vendor's OEM records name the repository's SDR version and its configuration script.
void NoteOemRecord(BmcRepository& bmc, const wire::Bytes& record) {
  if (IsVendorTextRecord(record.data(), kSdrVersionMarker)) {
    if (bmc.sdrVersionText.empty()) bmc.sdrVersionText = RecordText(record, 8);
  } else if (IsVendorTextRecord(record.data(), kCfgNameMarker)) {
    if (bmc.cfgName.empty()) bmc.cfgName = RecordText(record, 9) + ".CFG";
  }
}

}  // namespace

bool ReadWholeRepository(SdrRun& run) {
  RepositoryImage& image = run.image;
  if (!image.records.empty()) return true;
  run.Log("SDRReocrd Reading");

  // Only an update driven by the manager shows the read in its progress ratio.
  const bool showProgress = run.settings.ManagedUpdate();
  double accumulator = run.ctx.progressRatio;
  int32_t& ratio = run.ctx.progressRatio;
  std::vector<uint8_t> area;
  int number = 0;
  CommandCheck check;

  RecordChainWalk walk;
  walk.maxBytes = RepositoryImage::kMaxRecordArea;
  walk.read = [&run, &check](uint16_t recordId, ChainRecord* record) {
    check = CommandCheck();
    record->nextRecordId = recordId;
    return GetSdrRecord(run, &record->nextRecordId, &record->bytes, &check) ? RecordRead::kRecord
                                                                            : RecordRead::kFailed;
  };
  walk.take = [&](const ChainRecord& record) {
    area.insert(area.end(), record.bytes.begin(), record.bytes.end());
    NoteOemRecord(run.bmc, record.bytes);
    ++number;
    if (showProgress && ratio < kVersionKnownRatio && run.bmc.recordCount != 0) {
      accumulator += 24.0 / run.bmc.recordCount;
      const int reached = static_cast<int>(accumulator);
      ratio = reached < kVersionKnownRatio ? reached : kVersionKnownRatio;
      if (number % 10 == 0 && ratio < kVersionKnownRatio) run.ctx.PublishProgress();
    }
    if (run.settings.ConsoleEcho) {
      char line[32];
      std::snprintf(line, sizeof line, " ----- > #%d\r", number);
      run.Print(line);
    }
    return true;
  };
  const ChainWalkResult walked = WalkRecordChain(walk);

  // The record counter line is ended before anything else reaches the console.
  if (run.settings.ConsoleEcho && number > 0) run.Print("\n");
  switch (walked.end) {
    case ChainEnd::kComplete:
      // A partial read is no read: the area is only kept whole, so nothing takes a part of it
      // for the repository.
      image.records = std::move(area);
      return true;
    case ChainEnd::kFailed:
      ReportCommandError(run, kReadCommandName, check);
      return false;
    case ChainEnd::kTooLarge:
      run.errors.Report(SdrError::kBackupCommandError, 0,
                        "Command: Get SDR or Reserve SDR Repository records exceed 65535 bytes");
      return false;
    case ChainEnd::kLoops: {
      char detail[96];
      std::snprintf(
          detail, sizeof detail,
          "Command: Get SDR or Reserve SDR Repository illegal Next Record ID : %04X h (read before)",
          walked.recordId);
      run.errors.Report(SdrError::kBackupCommandError, 0, detail);
      return false;
    }
  }
  return false;
}

}  // namespace veltrop
