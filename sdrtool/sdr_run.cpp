#include "sdrtool/sdr_run.h"

#include "sdrtool/repository/spared_repository.h"
#include "sdrtool/result_codes.h"
#include "sdrtool/result_hold.h"
#include "status/result_files.h"

namespace veltrop {
namespace {

// A line is assembled in a buffer of this size, time stamp and terminator included.
constexpr size_t kLogLineBuffer = 1024;

}  // namespace

SdrRun::SdrRun(runcontrol::RunEnvironment& env)
    : ctx(env, kLogLineBuffer), errors(ctx, trace), commands(ctx, errors, trace, settings.TraceEnabled) {
  ctx.log.AddFile({kMainLog, 0, {}, 0});
  ctx.log.AddFile({kVersionLog, 0, {}, 0});
  ctx.log.AddFile({kRatioLog, 0, {}, 0});
  ctx.reporter.rules.messages = kResultMessages;
  ctx.reporter.rules.messageCount = kResultMessageCount;
  ctx.reporter.beforeResultFile = [this](status::ResultKind kind, const std::string&) {
    if ((kind != status::ResultKind::NormalResult && kind != status::ResultKind::ForceResult) ||
        !resultStartTimeSet) {
      return;
    }
    if (settings.ResultTraceEnabled) Log("update end");
    // A run asked to stop does not keep the manager waiting for its answer.
    if (!ctx.StopRequested()) HoldBackUpdateResult(ctx.clock, resultStartTime);
    if (settings.ResultTraceEnabled) Log("result file reply");
  };
  ApplySettings();
}

SdrRun::~SdrRun() {
  if (!updateLockHeld) return;
  try {
    DiscardUpdateLock(*this);
  } catch (...) {
    // Nothing is left to report to once the run goes away.
  }
}

void SdrRun::ApplySettings() {
  switch (settings.mode) {
    case ModeVersion:
      ctx.log.Use(1);
      break;
    case ModeRatio:
      ctx.log.Use(2);
      break;
    default:
      ctx.log.Use(0);
      break;
  }
  // Until a mode is known the console is the only place an operator would look.
  ctx.log.SetEcho(settings.ConsoleEcho || settings.mode == ModeNone);
  ctx.files.placement.enabled = settings.mode != ModeNone && !settings.DirectMode;
  switch (settings.mode) {
    case ModeVersion:
      ctx.reporter.modeKind = status::ResultKind::VersionResult;
      break;
    case ModeUpdate:
      ctx.reporter.modeKind = status::ResultKind::NormalResult;
      break;
    case ModeForce:
      ctx.reporter.modeKind = status::ResultKind::ForceResult;
      break;
    case ModeRatio:
      ctx.reporter.modeKind = status::ResultKind::RatioResult;
      break;
    default:
      ctx.reporter.modeKind.reset();
      break;
  }
}

}  // namespace veltrop
