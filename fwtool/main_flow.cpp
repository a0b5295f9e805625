#include "fwtool/main_flow.h"

#include <memory>
#include <string>

#include "bmc_versions.h"
#include "fwtool/bank_selection.h"
#include "fwtool/channel_access.h"
#include "fwtool/flash_layout.h"
#include "fwtool/flash_passes.h"
#include "fwtool/fw_run.h"
#include "fwtool/target_checks.h"
#include "fwtool/usage.h"
#include "fwtool/version_check.h"
#include "runcontrol/operator_prompt.h"
#include "status/result_kind.h"
#include "transport/ipmi_exchange.h"

namespace korvane {
namespace {

constexpr const char* kTitle = "BMCFW Online Update Tool Version " BMC_KORVANE_VERSION;
constexpr const char* kStartLine = "=== BMC Online Update start ===";
constexpr const char* kEndLine = "=== BMC Online Update end ===";
// The command line was assembled in a buffer of this size.
constexpr size_t kCommandTextLimit = 259;
constexpr int kProgressFileRemovals = 62;

const char* ModeHeader(RunMode mode) {
  switch (mode) {
    case RunMode::LocalUpdate:
      return "=== Local Update Command ===";
    case RunMode::GetVersion:
      return "=== Get Version Command ===";
    case RunMode::UpdateNormal:
      return "=== Update Normal Command ===";
    case RunMode::UpdateForce:
      return "=== Update Force Command ===";
    case RunMode::GetRatio:
      return "=== Get Ratio Command ===";
  }
  return "";
}

std::string CommandText(int argc, const char* const* argv) {
  std::string text;
  for (int i = 0; i < argc; ++i) text += std::string(argv[i]) + " ";
  return text.substr(0, kCommandTextLimit);
}

// The device checks: a machine of another kind, or a boot-block update asked of a dual-bank
// device (whose boot block belongs to the running bank), is no target.
int CheckDevice(FwRun& run) {
  const int id = run.identity.deviceId;
  if (!IsSingleBank(id) && !IsDualBank(id)) {
    run.Report(FwCode::kNotTargetDevice);
    return 1;
  }
  if (IsDualBank(id) && run.settings.BootBlockUpdate) {
    run.Report(FwCode::kNotTargetBootBlock);
    return 1;
  }
  return 0;
}

// Steps from the device checks to the flash passes, with channel 2 disabled; 0 when all
// succeeded. Every way out goes through the caller's restore.
int CheckBeforeThePasses(FwRun& run) {
  if (CheckDevice(run) != 0) return 1;
  run.step = FwCode::kVersionError;
  if (CompareBmcVersion(run) != 0) return 1;
  run.step = FwCode::kFwIdChip;
  if (CheckIdChip(run) != 0) return 1;
  run.step = FwCode::kGetDownloaderSelector;
  if (ReadBankLayout(run) != 0) return 1;
  if (run.settings.Updates()) run.ctx.SetProgress(5);
  return 0;
}

// What must hold before anything is erased: an image that fits the bank and leaves something
// to write past a kept boot block, and a flash whose erase cannot take the kept boot block
// with it.
int CheckImageFitsTheBank(FwRun& run) {
  const FlashLayout& layout = run.layout;
  const uint64_t size = run.image.bytes.size();
  std::string why;
  if (size > layout.bank2Address) {
    why = "bmcfw.bin is longer than the bank (" + std::to_string(size) + " > " +
          std::to_string(layout.bank2Address) + " bytes).";
  } else if (!run.settings.BootBlockUpdate && size <= layout.bootBlockSize) {
    why = "bmcfw.bin holds nothing beyond the boot block, which is kept.";
  }
  if (!why.empty()) {
    run.Log(why);
    run.Report(FwCode::kImageFile);
    return 1;
  }
  // The first large-sector erase past a small boot block would wipe the boot block too, and it
  // is never written again.
  if (!run.settings.BootBlockUpdate && layout.sectorSize > layout.bootBlockSize) {
    run.Log("The flash's sectors are larger than its boot block: the boot block cannot be kept.");
    run.Report(FwCode::kFwIdChip);
    return 1;
  }
  return 0;
}

// The bank loop: one pass, or two with -both on a dual-bank device (the bank that is not
// running first). The image selector follows only a clean verify.
int FlashPasses(FwRun& run) {
  const bool dual = IsDualBank(run.identity.deviceId);
  const int passes = dual && run.settings.BothUpdate ? 2 : 1;
  FlashLayout& layout = run.layout;
  for (int pass = 1; pass <= passes; ++pass) {
    // Before a bank is touched is a safe point to stop at.
    if (run.ctx.StopRequested()) {
      run.Report(FwCode::kEraseError);
      return 1;
    }
    if (dual) {
      if (!run.settings.BothUpdate) {
        layout.targetBank = 0xFF;
      } else {
        if (pass == 2) layout.currentBank = layout.targetBank;
        layout.targetBank = layout.currentBank % 2 + 1;
      }
    }
    if (SelectPassBank(run) != 0) return 1;
    run.lastProgressStep = 0;
    run.step = FwCode::kEraseError;
    if (EraseBmcData(run) != 0) return 1;
    run.step = FwCode::kUpdateError;
    if (UpdateBmcData(run) != 0) return 1;
    run.step = FwCode::kVerifyError;
    if (VerifyWriteData(run) != 0) return 1;
    run.step = FwCode::kSetImageSelector;
    if (SetFWImageSelector(run) != 0) return 1;
  }
  return 0;
}

// The Microsoft driver's path under the firmware tool's policy: ten attempts, -wait between.
transport::WmiPathSetup WmiSetup(FwRun& run) {
  transport::WholeRequestRetrySettings policy;
  policy.waitSeconds = run.settings.WaitSeconds;
  return runcontrol::WmiPathSetupFor(run.ctx, policy, &run.wmiEvents);
}

// Steps from the image check on; the result is 0 when the update (or query) succeeded.
int RunChecksAndPasses(FwRun& run) {
  run.step = FwCode::kImageFile;
  if (OpFileCheck(run) != 0) return 1;
  run.step = FwCode::kGetDeviceId;
  const runcontrol::TransportChoiceLines lines{"Microsoft IPMI Driver was not found.",
                                               "Microsoft IPMI Driver was found.", ""};
  if (runcontrol::ChooseTransport(run.ctx, WmiSetup(run), lines) ==
      transport::WmiPresence::kInstanceUnresolved) {
    run.Report(FwCode::kDriverUnavailable);
    return 1;
  }
  if (GetBmcStatus(run) != 0) return 1;
  run.step = FwCode::kGetChannelAccess;
  if (GetChannelAccess(run) != 0) return 1;
  int result = CheckBeforeThePasses(run);
  if (result == 0) result = CheckImageFitsTheBank(run);
  if (result == 0) {
    HoldMaintenance(run);
    result = FlashPasses(run);
  }
  // From the disable on, every way out restores channel 2 (an exception's too: see the entry).
  run.step = FwCode::kSetChannelAccess;
  if (ReleaseHeld(run) != 0) result = 1;
  return result;
}

// What ends a run that something unexpected (an exception) cut short: the step's code, then
// the cleanup of every way out.
int EndCutShortRun(FwRun& run, const char* what) {
  try {
    run.Log(std::string("Unexpected failure: ") + what);
    run.Report(run.step);
    ReleaseHeld(run);
    if (run.settings.Updates() && run.ctx.ProgressPublished())
      runcontrol::FinishManagedUpdate(run.ctx, kProgressFileRemovals);
    run.Log(kEndLine);
    return run.ctx.reporter.ExitStatus();
  } catch (...) {
    // What is still held is put back by the run's destructor.
    return 0;
  }
}

// The run from its switches to its end line.
int RunSteps(int argc, const char* const* argv, FwRun& run) {
  FwSettings& s = run.settings;

  const bool switchesOk = ParseCommandLine(argc, argv, &s);
  run.ApplySettings();
  if (!switchesOk) {
    run.Report(FwCode::kIllegalParameter);
    run.ctx.console.Write(kUsage);
    return run.ctx.reporter.ExitStatus();
  }
  run.Log(kStartLine);
  run.Log("Command : " + CommandText(argc, argv));
  run.Log("wait time : " + std::to_string(s.WaitSeconds) + "sec");
  run.Log(ModeHeader(s.mode));
  run.Log(std::string("Boot Block Update : ") + (s.BootBlockUpdate ? "1" : "0") +
          "  Both Update : " + (s.BothUpdate ? "1" : "0"));
  if (s.mode == RunMode::LocalUpdate) run.ctx.console.Write(std::string("\r\n") + kTitle + " \r\n");
  run.Log(kTitle);
  if (s.mode == RunMode::LocalUpdate && !runcontrol::ConfirmUpdate(run.ctx.console))
    return run.ctx.reporter.ExitStatus();

  if (s.Updates()) run.ctx.reporter.Write(*run.ctx.reporter.modeKind, "OK");
  if (s.mode != RunMode::GetRatio &&
      !runcontrol::AcquireInstanceLock(run.ctx, s.mode == RunMode::GetVersion, true)) {
    return run.ctx.reporter.ExitStatus();
  }
  if (s.Updates()) run.ctx.PublishProgress();
  if (s.mode == RunMode::GetRatio) {
    runcontrol::AnswerRatioQuery(run.ctx, CodeText(FwCode::kTimeout));
    return run.ctx.reporter.ExitStatus();
  }

  // Only a run without any failure is complete; a query never is.
  const int result = RunChecksAndPasses(run);
  if (result == 0 && s.mode != RunMode::GetVersion) {
    if (s.Updates()) run.ctx.SetProgress(100);
    run.Report("Complete");
  }

  if (s.Updates()) runcontrol::FinishManagedUpdate(run.ctx, kProgressFileRemovals);
  run.Log(kEndLine);
  return run.ctx.reporter.ExitStatus();
}

}  // namespace

int RunKorvane(int argc, const char* const* argv, runcontrol::RunEnvironment& env) {
  if (env.lockName.empty()) env.lockName = kLockName;
  std::unique_ptr<FwRun> run;
  try {
    run = std::make_unique<FwRun>(env, FilesBeside(argc > 0 ? argv[0] : ""));
    return RunSteps(argc, argv, *run);
  } catch (const std::exception& e) {
    // Without a run nothing was done that needs undoing.
    return run ? EndCutShortRun(*run, e.what()) : 0;
  } catch (...) {
    return run ? EndCutShortRun(*run, "unknown exception") : 0;
  }
}

}  // namespace korvane
