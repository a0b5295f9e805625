#include "fwtool/fw_run.h"

#include "fwtool/channel_access.h"
#include "fwtool/log_line_count.h"
#include "fwtool/result_codes.h"
#include "fwtool/result_file_wait.h"
#include "transport/ipmi_exchange.h"
#include "platform/files.h"
#include "status/result_files.h"
#include "transport/log_exchange.h"

namespace korvane {
namespace {

// A line is assembled in a buffer of this size, time stamp and terminator included.
constexpr size_t kLogLineBuffer = 512;
constexpr int32_t kLogRotationLines = 10000;
constexpr size_t kUpdateLog = 0;
constexpr size_t kQueryLog = 1;

}  // namespace

ProgramFiles FilesBeside(const std::string& programPath) {
  ProgramFiles f;
  const size_t separator = programPath.find_last_of(platform::PathSeparator() == '\\' ? "\\/:" : "/");
  if (separator != std::string::npos) f.directory = programPath.substr(0, separator + 1);
  f.log = f.directory + "Korvane_log.txt";
  f.logBackup = f.directory + "Korvane_log.bak";
  f.versionLog = f.directory + "Korvane_log1.txt";
  f.versionLogBackup = f.directory + "Korvane_log1.bak";
  f.hardwareList = f.directory + "mchk_fil";
  f.image = f.directory + "bmcfw.bin";
  f.progress = f.directory + "Get_ratio.xml_tmp";
  return f;
}

bool IsSingleBank(int deviceId) {
  return deviceId == 0x30 || deviceId == 0x31;
}

bool IsDualBank(int deviceId) {
  return deviceId == 0x38 || deviceId == 0x39 || deviceId == 0x3A;
}

FwRun::FwRun(runcontrol::RunEnvironment& env, const ProgramFiles& programFiles)
    : ctx(env, kLogLineBuffer), files(programFiles) {
  // Both counters are taken from the files before anything is logged.
  ctx.log.AddFile({files.log, kLogRotationLines, files.logBackup, CountLogLines(files.log)});
  ctx.log.AddFile(
      {files.versionLog, kLogRotationLines, files.versionLogBackup, CountLogLines(files.versionLog)});
  ctx.reporter.rules.messages = kResultMessages;
  ctx.reporter.rules.messageCount = kResultMessageCount;
  ctx.reporter.rules.printWithoutResultFile = true;
  ctx.reporter.rules.resultFileBeforeLog = true;
  ctx.reporter.rules.firstModeResultOnly = true;
  ctx.files.placement.resultPrefix.clear();
  ctx.files.placement.workFilePrefix = files.directory;
  // A final update result waits until the manager has taken the previous one away.
  ctx.reporter.beforeResultFile = [this](status::ResultKind kind, const std::string& code) {
    if (kind != status::ResultKind::NormalResult && kind != status::ResultKind::ForceResult) return;
    if (code != "Complete" && code != "Down Grade") return;
    // A run asked to stop answers at once.
    if (ctx.StopRequested()) return;
    const std::string path = ctx.files.PathOf(kind);
    if (WaitResponseFileConsumed(ctx.clock, path) == ResponseFileWait::kOverwriting) {
      Log("Response file already exists.(" + path + ")");
      Log("Overwrite file.(" + path + ")");
    }
  };
  ApplySettings();
}

FwRun::~FwRun() {
  try {
    ReleaseHeld(*this);
  } catch (...) {
    // Nothing more can be done from here.
  }
}

void FwRun::ApplySettings() {
  const bool query = settings.mode == RunMode::GetVersion || settings.mode == RunMode::GetRatio;
  ctx.log.Use(query ? kQueryLog : kUpdateLog);
  ctx.files.placement.enabled = settings.mode != RunMode::LocalUpdate;
  switch (settings.mode) {
    case RunMode::LocalUpdate:
      ctx.reporter.modeKind.reset();
      break;
    case RunMode::GetVersion:
      ctx.reporter.modeKind = status::ResultKind::VersionResult;
      break;
    case RunMode::UpdateNormal:
      ctx.reporter.modeKind = status::ResultKind::NormalResult;
      break;
    case RunMode::UpdateForce:
      ctx.reporter.modeKind = status::ResultKind::ForceResult;
      break;
    case RunMode::GetRatio:
      ctx.reporter.modeKind = status::ResultKind::RatioResult;
      break;
  }
}

void HoldMaintenance(FwRun& run) {
  run.maintenanceHeld = true;
  if (!transport::HoldMaintenanceMode(run.ctx.transport, true)) {
    run.Log("The driver's maintenance mode could not be set; going on.");
  }
}

int ReleaseHeld(FwRun& run) {
  if (run.maintenanceHeld) {
    run.maintenanceHeld = false;
    if (!transport::HoldMaintenanceMode(run.ctx.transport, false)) {
      run.Log("The driver's maintenance mode could not be set back to automatic.");
    }
  }
  return RestoreChannelAccess(run);
}

void LogLastExchange(FwRun& run) {
  const transport::IpmiResponse& response = run.latest.answer.response;
  transport::LogExchange([&run](const std::string& line) { run.Log(line); }, "  ", run.latest.request.bytes,
                         run.latest.request.length, response.bytes, response.length);
}

int ReportFailedExchange(FwRun& run, FwCode code) {
  run.Report(code);
  LogLastExchange(run);
  return 1;
}

}  // namespace korvane
