#include <cstdio>
#include <string>
#include <vector>

#include "sdrtool/backup_image.h"
#include "sdrtool/repository/repository_commands.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/sdr_parser.h"

namespace veltrop {
namespace {

constexpr const char* kReadCommandName = "Get SDR or Reserve SDR Repository";
constexpr uint16_t kLastRecordId = 0xFFFF;
constexpr int kVersionKnownRatio = 30;

// Text of an OEM record from `from` to the record's end or an earlier NUL byte.
std::string RecordText(const uint8_t* record, int from, int total) {
  std::string text;
  for (int i = from; i < total && record[i] != 0; ++i) text.push_back(static_cast<char>(record[i]));
  return text;
}

// The vendor's OEM records name the repository's SDR version and its configuration script.
void NoteOemRecord(BmcRepository& bmc, const uint8_t* record, int total) {
  if (IsVendorTextRecord(record, kSdrVersionMarker)) {
    if (bmc.sdrVersionText.empty()) bmc.sdrVersionText = RecordText(record, 8, total);
  } else if (IsVendorTextRecord(record, kCfgNameMarker)) {
    if (bmc.cfgName.empty()) bmc.cfgName = RecordText(record, 9, total) + ".CFG";
  }
}

// Only an update driven by the manager shows the read in its progress ratio.
bool ReadShowsProgress(const SdrRun& run) {
  return run.settings.ManagedUpdate();
}

}  // namespace

bool ReadWholeRepository(SdrRun& run) {
  RepositoryImage& image = run.image;
  if (!image.records.empty()) return true;
  run.Log("SDRReocrd Reading");

  const bool showProgress = ReadShowsProgress(run);
  double accumulator = run.ctx.progressRatio;
  int32_t& ratio = run.ctx.progressRatio;
  std::vector<uint8_t> area;
  // Record IDs asked for so far: a chain that comes back to one of them would never end.
  std::vector<bool> requested(0x10000, false);
  uint16_t recordId = 0;
  requested[recordId] = true;
  uint8_t record[kMaxRepositoryRecordBytes];
  int number = 0;
  bool ok = false;
  // The record counter line is ended before anything else reaches the console.
  auto endCounterLine = [&run, &number] {
    if (run.settings.ConsoleEcho && number > 0) run.Print("\n");
  };

  for (;;) {
    int total = 0;
    CommandCheck check;
    if (!GetSdrRecord(run, &recordId, record, sizeof record, &total, &check)) {
      endCounterLine();
      ReportCommandError(run, kReadCommandName, check);
      break;
    }
    if (area.size() + static_cast<size_t>(total) > RepositoryImage::kMaxRecordArea) {
      endCounterLine();
      run.errors.Report(30, 0, "Command: Get SDR or Reserve SDR Repository records exceed 65535 bytes");
      break;
    }
    area.insert(area.end(), record, record + total);
    NoteOemRecord(run.bmc, record, total);
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

    if (recordId == kLastRecordId) {
      endCounterLine();
      ok = true;
      break;
    }
    if (requested[recordId]) {
      char detail[96];
      std::snprintf(
          detail, sizeof detail,
          "Command: Get SDR or Reserve SDR Repository illegal Next Record ID : %04X h (read before)",
          recordId);
      endCounterLine();
      run.errors.Report(30, 0, detail);
      break;
    }
    requested[recordId] = true;
  }

  // A partial read is no read: the area stays empty, so nothing takes it for the repository.
  if (ok) image.records = std::move(area);
  return ok;
}

}  // namespace veltrop
