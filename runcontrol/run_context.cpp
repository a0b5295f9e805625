#include "runcontrol/run_context.h"

#include "platform/files.h"
#include "platform/interrupt.h"

namespace runcontrol {
namespace {

constexpr uint32_t kEndPauseMs = 10000;
constexpr uint32_t kRemovePauseMs = 500;

}  // namespace

RunContext::RunContext(RunEnvironment& e, size_t logLineBufferSize)
    : env(e),
      clock(*e.clock),
      console(*e.console),
      log(clock, console, logLineBufferSize),
      files(console),
      reporter(log, files, console) {
  transport.vendorDriver = e.vendorDriver;
}

bool RunContext::StopRequested() {
  if (!platform::InterruptRequested()) return false;
  if (!stopLogged_) {
    stopLogged_ = true;
    log.Line("Stop requested: the run ends at this safe point and cleans up.");
  }
  return true;
}

void RunContext::PublishProgress() {
  progressPublished_ = true;
  reporter.HandleSave(files.PublishProgress(progressRatio), status::ResultKind::RatioWorkFile);
}

bool AcquireInstanceLock(RunContext& run, bool query, bool holdForRun) {
  std::string detail;
  if (run.guard.Acquire(run.env.lockName, run.env.lockDir, holdForRun, &detail)) return true;
  if (!detail.empty()) run.log.Line(detail);
  run.reporter.Report(query ? "Busy" : "Duplex");
  return false;
}

void AnswerRatioQuery(RunContext& run, const std::string& timeoutCode) {
  status::XmlSaveResult saved = status::XmlSaveResult::kSaved;
  const status::RatioQueryOutcome outcome = run.files.AnswerRatioQuery(run.clock, &saved);
  if (!run.files.placement.enabled) return;
  run.reporter.HandleSave(saved, status::ResultKind::RatioResult);
  if (outcome == status::RatioQueryOutcome::kTimedOut) run.reporter.Report(timeoutCode);
}

namespace {

transport::WmiPresence OpenPath(RunContext& run, const transport::WmiPathSetup& setup) {
  run.transport.UseWmiPath = false;
  if (!run.env.openWmiPath) {
    if (run.env.wmiDriver == nullptr) return transport::WmiPresence::kNotPresent;
    run.transport.wmiDriver = run.env.wmiDriver;
    run.transport.UseWmiPath = true;
    return transport::WmiPresence::kPresent;
  }
  transport::WmiPathOpening opening = run.env.openWmiPath(setup);
  if (opening.presence == transport::WmiPresence::kPresent) {
    run.openedWmiDriver = std::move(opening.driver);
    run.transport.wmiDriver = run.openedWmiDriver.get();
    run.transport.UseWmiPath = run.transport.wmiDriver != nullptr;
  }
  return opening.presence;
}

}  // namespace

transport::WmiPathSetup WmiPathSetupFor(RunContext& run, const transport::WmiRetryPolicy& policy,
                                        transport::WmiPathEvents* events) {
  transport::WmiPathSetup setup;
  setup.policy = policy;
  setup.log = [&run](const std::string& line) { run.log.Line(line); };
  setup.events = events;
  setup.clock = &run.clock;
  return setup;
}

transport::WmiPresence ChooseTransport(RunContext& run, const transport::WmiPathSetup& setup,
                                       const TransportChoiceLines& lines) {
  const transport::WmiPresence presence = OpenPath(run, setup);
  const std::string& line = presence == transport::WmiPresence::kNotPresent ? lines.vendorPath
                            : presence == transport::WmiPresence::kPresent  ? lines.microsoftPath
                                                                            : lines.unresolved;
  if (!line.empty()) run.log.Line(line);
  return presence;
}

void FinishManagedUpdate(RunContext& run, int attempts) {
  // The pause leaves the manager time to read the last ratio; a stop request does not wait.
  if (!run.StopRequested()) run.clock.SleepMs(kEndPauseMs);
  const std::string progressFile = run.files.PathOf(status::ResultKind::RatioWorkFile);
  for (int failures = 0; !platform::RemoveFile(progressFile) && ++failures < attempts;) {
    run.clock.SleepMs(kRemovePauseMs);
  }
}

}  // namespace runcontrol
