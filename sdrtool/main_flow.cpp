#include "sdrtool/main_flow.h"

#include <exception>
#include <memory>
#include <string>

#include "bmc_versions.h"
#include "ipmi/sdr_repository_commands.h"
#include "platform/files.h"
#include "runcontrol/operator_prompt.h"
#include "sdrtool/bmc_status.h"
#include "sdrtool/config_script/config_script.h"
#include "sdrtool/programming/sdr_programming.h"
#include "sdrtool/repository/repository_commands.h"
#include "sdrtool/repository/spared_repository.h"
#include "sdrtool/result_directory.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/usage.h"
#include "sdrtool/version_cache.h"
#include "sdrtool/version_log.h"

namespace veltrop {
namespace {

constexpr int64_t kVersionLogLimit = 2000000;
constexpr const char* kStartLine = "=== SDR Online Update start ===";
constexpr const char* kEndLine = "=== SDR Online Update end ===";
constexpr int kProgressFileRemovals = 12;

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

bool ReadRepositoryInfo(SdrRun& run) {
  CommandCheck check;
  const ipmi::Outcome<ipmi::RepositoryInfo> info =
      SendChecked(run.commands, ipmi::GetSdrRepositoryInfo(), &check);
  if (!info) {
    ReportCommandError(run, "Get SDR Repository Info", check);
    return false;
  }
  run.bmc.recordCount = info.value.recordCount;
  run.bmc.additionTimestamp = info.value.additionTimestamp;
  run.bmc.eraseTimestamp = info.value.eraseTimestamp;
  return true;
}

SdrError ProgramFromSdrFile(SdrRun& run) {
  Transcript& transcript = run.programming.transcript;
  if (!transcript.Open(platform::NullDevice())) return run.errors.Report(SdrError::kSdrTempOpenFailed);
  const SdrError result = ProgramSdrFile(run, run.settings.SdrFileName, nullptr, false);
  transcript.Close();
  if (result == SdrError::kNone && run.programming.programmed)
    run.Log("Programming complete, reboot server for normal operation ");
  return result;
}

SdrError ProgramFromScript(SdrRun& run) {
  std::string name;
  if (run.settings.CfgFileName) {
    name = *run.settings.CfgFileName;
  } else if (!run.bmc.cfgName.empty()) {
    name = run.bmc.cfgName;
  } else {
    return run.errors.Report(SdrError::kConfigNameNotFound);
  }
  return RunConfigScript(run, name);
}

// The Microsoft driver's path under the SDR tool's retry policy, from the retry switches.
transport::WmiPathSetup WmiSetup(SdrRun& run) {
  transport::CodeKeyedRetrySettings policy = run.settings.retry;
  policy.logDriverWaits = run.settings.TraceEnabled;
  return runcontrol::WmiPathSetupFor(run.ctx, policy, &run.wmiEvents);
}

// Steps from the transport selection to the outcome; false when the run stops early
// ("end"), with the reason already reported. *leave is set when the run exits at once.
bool RunBmcSteps(SdrRun& run, bool* leave) {
  RunSettings& s = run.settings;
  const runcontrol::TransportChoiceLines lines{"Use QYX Driver", "Use MS Driver", "Use MS Driver"};
  if (runcontrol::ChooseTransport(run.ctx, WmiSetup(run), lines) ==
      transport::WmiPresence::kInstanceUnresolved) {
    run.Report("SDRC03");
    return false;
  }
  if (s.ManagedUpdate()) run.SetProgress(5);
  if (GetBmcStatus(run) != 0) return false;

  const bool readsVersion =
      s.mode == ModeVersion || s.mode == ModeUpdate || (s.mode == ModeForce && !s.CfgFileName);
  if (readsVersion) {
    if (!ReadRepositoryInfo(run)) return false;
    if (!LoadBmcSdrVersion(run)) return false;
  }
  if (s.ManagedUpdate()) run.SetProgress(30);

  if (s.mode == ModeBackup) {
    BackupRepository(run, s.BackupFileName);
    return false;
  }
  if (s.DirectMode && !runcontrol::ConfirmUpdate(run.ctx.console)) {
    *leave = true;
    return false;
  }

  SdrError result = SdrError::kNone;
  switch (s.input) {
    case InputBin:
      if (!LoadBackupImage(run, s.BinFileName)) return false;
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
  return result == SdrError::kNone;
}

// The whole invocation from the command line on; the exit status is the reporter's.
void RunSteps(SdrRun& run, int argc, const char* const* argv) {
  RunSettings& s = run.settings;
  const std::string resultDir = LocateResultDir();
  run.ctx.files.placement.resultPrefix = resultDir;
  run.ctx.files.placement.workFilePrefix = resultDir;
  const bool paramsOk = ParseCommandLine(argc, argv, &s);
  run.ApplySettings();
  if (s.mode == ModeVersion) RotateLogBySize(kVersionLog, kVersionLogLimit, kVersionLogOld);
  run.Log(kStartLine);
  run.Log("SDR Online Update Tool Version " BMC_VELTROP_VERSION);
  if (!paramsOk) {
    run.Report("SDRC01");
    run.Print(kUsage);
    run.Log(kEndLine);
    return;
  }
  run.Log(ModeLine(s.mode));

  // A version query only tests the lock: it must not keep an update out.
  if (s.mode != ModeRatio &&
      !runcontrol::AcquireInstanceLock(run.ctx, s.mode == ModeVersion, s.mode != ModeVersion)) {
    run.Log(kEndLine);
    return;
  }
  if (s.ManagedUpdate()) {
    run.ctx.PublishProgress();
    run.ctx.reporter.WriteModeResult("OK");
    run.resultStartTime = run.ctx.clock.WallSeconds();
    run.resultStartTimeSet = true;
    if (s.ResultTraceEnabled) run.Log("OK FILE create");
  }
  if (s.mode == ModeRatio) {
    runcontrol::AnswerRatioQuery(run.ctx, "SDRC08");
    run.Log(kEndLine);
    return;
  }

  bool leave = false;
  const bool succeeded = RunBmcSteps(run, &leave);
  if (leave || (succeeded && s.DirectMode)) {
    run.Log(kEndLine);
    return;
  }
  if (succeeded && (s.mode == ModeUpdate || s.mode == ModeForce)) {
    run.SetProgress(100);
    run.Report("Complete");
  }
  if (s.ManagedUpdate()) runcontrol::FinishManagedUpdate(run.ctx, kProgressFileRemovals);
  run.Log(kEndLine);
}

// Runs one part of the cleanup after an exception; another exception there must not keep the
// later parts from running.
template <typename Part>
void Attempt(Part part) noexcept {
  try {
    part();
  } catch (...) {
    // The next part, and in the end the run's destructor, still give back what is held.
  }
}

// Whatever ended the run early, what it holds is given back as on every other way out: the
// update lock discarded, a managed update's end finished (its progress file removed).
void EndAfterException(SdrRun& run, const char* what) noexcept {
  Attempt([&] {
    run.Log(std::string("Exception: ") + what);
    run.errors.Report(SdrError::kInsufficientMemory);
  });
  Attempt([&] {
    if (run.updateLockHeld) DiscardUpdateLock(run);
  });
  Attempt([&] {
    if (run.settings.ManagedUpdate()) runcontrol::FinishManagedUpdate(run.ctx, kProgressFileRemovals);
  });
  Attempt([&] { run.Log(kEndLine); });
}

}  // namespace

int RunVeltrop(int argc, const char* const* argv, runcontrol::RunEnvironment& env) {
  if (env.lockName.empty()) env.lockName = kLockName;
  // Built inside the guard: whatever throws, a run that exists is cleaned up, and its
  // destructor discards a lock that is still held when even the cleanup failed.
  std::unique_ptr<SdrRun> run;
  try {
    run = std::make_unique<SdrRun>(env);
    RunSteps(*run, argc, argv);
  } catch (const std::exception& e) {
    if (run) EndAfterException(*run, e.what());
  } catch (...) {
    if (run) EndAfterException(*run, "(not a std::exception)");
  }
  // Without a run nothing was done that needs undoing.
  return run ? run->ctx.reporter.ExitStatus() : 0;
}

}  // namespace veltrop
