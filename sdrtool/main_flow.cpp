#include "sdrtool/main_flow.h"

#include <cstdio>
#include <new>

#include "platform/files.h"
#include "sdrtool/bmc_status.h"
#include "sdrtool/config_script.h"
#include "sdrtool/cproto.h"
#include "sdrtool/repository_commands.h"
#include "sdrtool/repository_image.h"
#include "sdrtool/sdr_file.h"
#include "sdrtool/transport_selection.h"

namespace veltrop {
namespace {

constexpr int64_t kVersionLogLimit = 2000000;
constexpr const char* kStartLine = "=== SDR Online Update start ===";
constexpr const char* kEndLine = "=== SDR Online Update end ===";

const char* ModeLine(SdrMode mode) {
  switch (mode) {
    case ModeVersion:
      return "<<execute -version>>";
    case ModeUpdate:
      return "<<execute -update/-direct>>";
    case ModeForce:
      return "<<execute -update/-direct + -force>>";
    case ModeBackup:
      return "<<execute -backup>>";
    default:
      return "<<execute -ratio>>";
  }
}

void RotateVersionLog() {
  if (platform::FileSize(kVersionLog) > kVersionLogLimit) {
    platform::RemoveFile(kVersionLogOld);
    platform::RenameOver(kVersionLog, kVersionLogOld);
  }
}

bool IsManagedUpdate(const RunSettings& s) {
  return (s.mode == ModeUpdate || s.mode == ModeForce) && !s.DirectMode;
}

// Reads the rest of the input line; the answer character itself may have ended it.
void DiscardLine(platform::Console& console) {
  for (int c = console.ReadChar(); c != '\n' && c != platform::Console::kEndOfInput; c = console.ReadChar()) {
  }
}

// The operator's confirmation. End of input counts as "n" so the run never loops.
bool ConfirmUpdate(VeltropRun& run) {
  for (;;) {
    run.Print("Do you really update it?[y/n]\n");
    int c = run.console.ReadChar();
    if (c == platform::Console::kEndOfInput) return false;
    if (c == 'y' || c == 'Y' || c == 'n' || c == 'N') {
      DiscardLine(run.console);
      return c == 'y' || c == 'Y';
    }
    run.Print("The input value is invalid. Please input it again. \r\n");
    if (c != '\n') DiscardLine(run.console);
  }
}

void SetProgress(VeltropRun& run, int ratio) {
  run.status.ProgressRatio = ratio;
  run.status.PublishProgress();
}

bool ReadRepositoryInfo(VeltropRun& run, CProto& proto) {
  uint8_t info[15] = {};
  if (!GetSdrRepositoryInfo(proto, info)) {
    ReportCommandError(proto, "Get SDR Repository Info");
    return false;
  }
  run.RepositoryRecordCount = static_cast<uint16_t>(info[2] | info[3] << 8);
  run.RepositoryAdditionTimestamp =
      static_cast<uint32_t>(info[6] | info[7] << 8 | info[8] << 16) | static_cast<uint32_t>(info[9]) << 24;
  run.RepositoryEraseTimestamp = static_cast<uint32_t>(info[10] | info[11] << 8 | info[12] << 16) |
                                 static_cast<uint32_t>(info[13]) << 24;
  return true;
}

int ProgramFromSdrFile(VeltropRun& run) {
  run.TranscriptFile = std::fopen(platform::NullDevice(), "w");
  if (!run.TranscriptFile) return run.errors.Report(65);
  int result;
  SDRFile* sdr = new (std::nothrow) SDRFile(run);
  if (!sdr) {
    result = run.errors.Report(2);
  } else {
    result = sdr->ProgramSdrFile(run.settings.SdrFileName, nullptr);
    delete sdr;
  }
  std::fclose(run.TranscriptFile);
  run.TranscriptFile = nullptr;
  if (result == 0 && run.ProgrammedFlag)
    run.LogLine("Programming complete, reboot server for normal operation ");
  return result;
}

int ProgramFromScript(VeltropRun& run) {
  std::string name;
  if (run.settings.CfgFileName) {
    name = *run.settings.CfgFileName;
  } else if (!run.RepositoryCfgName.empty()) {
    name = run.RepositoryCfgName;
  } else {
    return run.errors.Report(74);
  }
  return RunConfigScript(run, name);
}

// Steps from the transport selection to the outcome; false when the run stops early
// ("end"), with the reason already reported. *leave is set when the run exits at once.
bool RunBmcSteps(VeltropRun& run, bool* leave) {
  RunSettings& s = run.settings;
  CProto proto(run);
  if (!SelectTransport(run)) return false;
  if (IsManagedUpdate(s)) SetProgress(run, 5);
  if (GetBmcStatus(proto) != 0) return false;

  const bool readsVersion =
      s.mode == ModeVersion || s.mode == ModeUpdate || (s.mode == ModeForce && !s.CfgFileName);
  if (readsVersion) {
    if (!ReadRepositoryInfo(run, proto)) return false;
    if (!LoadBmcSdrVersion(proto)) return false;
  }
  if (IsManagedUpdate(s)) SetProgress(run, 30);

  if (s.mode == ModeBackup) {
    BackupRepository(proto, s.BackupFileName);
    return false;
  }
  if (s.DirectMode && !ConfirmUpdate(run)) {
    *leave = true;
    return false;
  }

  int result = 0;
  switch (s.input) {
    case InputBin:
      if (!LoadBackupImage(proto, s.BinFileName)) return false;
      result = ProgramFromSdrFile(run);
      break;
    case InputSdr:
      result = ProgramFromSdrFile(run);
      break;
    case InputCfg:
      result = ProgramFromScript(run);
      break;
    default:
      break;
  }
  return result == 0;
}

}  // namespace

int RunVeltrop(int argc, const char* const* argv, VeltropEnv& env) {
  VeltropRun run(env);
  RunSettings& s = run.settings;

  run.ResultDirPrefix = status::LocateResultDir();
  const bool paramsOk = ParseCommandLine(argc, argv, &s);
  if (s.mode == ModeVersion) RotateVersionLog();
  run.LogLine(kStartLine);
  run.LogLine("SDR Online Update Tool Version 1.07");
  if (!paramsOk) {
    run.ReportResultCode("SDRC01");
    run.LogLine(kEndLine);
    return 0;
  }
  run.LogLine(ModeLine(s.mode));

  if (s.mode != ModeRatio && run.status.AcquireInstanceLock() != 0) {
    run.LogLine(kEndLine);
    return 0;
  }
  if (IsManagedUpdate(s)) {
    run.status.PublishProgress();
    run.WriteModeResult("OK", "", "");
    run.ResultStartTime = run.clock.WallSeconds();
    run.resultStartTimeSet = true;
    if (s.ResultTraceEnabled) run.LogLine("OK FILE create");
  }
  if (s.mode == ModeRatio) {
    run.status.RatioQuery();
    run.LogLine(kEndLine);
    return 0;
  }

  bool leave = false;
  const bool succeeded = RunBmcSteps(run, &leave);
  if (leave) {
    run.LogLine(kEndLine);
    return 0;
  }
  if (succeeded) {
    if (s.DirectMode) {
      run.LogLine(kEndLine);
      return 0;
    }
    if (s.mode == ModeUpdate || s.mode == ModeForce) {
      SetProgress(run, 100);
      run.ReportResultCode("Complete");
    }
  }

  if (IsManagedUpdate(s)) {
    run.clock.SleepMs(10000);
    const std::string progressFile =
        run.ResultDirPrefix + status::ResultFileName(status::ResultKind::RatioWorkFile);
    for (int failures = 0; !platform::RemoveFile(progressFile) && ++failures < 12;) run.clock.SleepMs(500);
  }
  run.LogLine(kEndLine);
  return 0;
}

}  // namespace veltrop
