#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/console.h"
#include "runcontrol/result_reporter.h"
#include "runcontrol/run_environment.h"
#include "runcontrol/run_log.h"
#include "status/instance_guard.h"
#include "status/result_files.h"
#include "transport/ipmi_exchange.h"

namespace runcontrol {

// What every run of either program has: its environment, log, result files and reporter,
// instance lock, transport and progress ratio. Each program keeps its own state beside it.
class RunContext {
 public:
  RunContext(RunEnvironment& env, size_t logLineBufferSize);
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  RunEnvironment& env;
  platform::Clock& clock;
  platform::Console& console;
  RunLog log;
  status::ResultFiles files;
  ResultReporter reporter;
  status::InstanceGuard guard;
  transport::IpmiTransport transport;
  int32_t progressRatio = 0;
  // The Microsoft IPMI driver once opened; it lives as long as the run, on the run's thread.
  std::unique_ptr<transport::IpmiDriver> openedWmiDriver;

  // True once the process was asked to stop (Ctrl-C, termination, a closing console): the
  // run stops at its next safe point and cleans up. Logged the first time it is seen.
  bool StopRequested();

  // Writes the progress working file with the current ratio.
  void PublishProgress();
  // This run wrote the progress working file: its end removes it (FinishManagedUpdate).
  bool ProgressPublished() const { return progressPublished_; }
  void SetProgress(int32_t ratio) {
    progressRatio = ratio;
    PublishProgress();
  }

 private:
  bool stopLogged_ = false;
  bool progressPublished_ = false;
};

// The run's single-instance lock (lock name and directory from the environment). False when
// another instance runs: "Busy" (a query) or "Duplex" is then reported. holdForRun false
// only tests the lock.
bool AcquireInstanceLock(RunContext& run, bool query, bool holdForRun);

// Answers a ratio query from the progress working file; the copy's time-out is reported with
// the program's code.
void AnswerRatioQuery(RunContext& run, const std::string& timeoutCode);

// Picks the transport path once, before the first request: the Microsoft IPMI driver, under
// the program's retry policy, when there is one; else the vendor driver. The program logs and
// reports what the answer means to it.
// The Microsoft driver's path under a program's retry policy: its lines go to the run's log,
// its waits sleep on the run's clock, its events to the program.
transport::WmiPathSetup WmiPathSetupFor(RunContext& run, const transport::WmiRetryPolicy& policy,
                                        transport::WmiPathEvents* events);

// The log lines of the choice, as the program words them; an empty line is not logged.
struct TransportChoiceLines {
  std::string vendorPath;     // no Microsoft driver: the vendor driver carries the requests
  std::string microsoftPath;  // the Microsoft driver carries them
  std::string unresolved;     // the Microsoft driver is there, its instance is not
};
transport::WmiPresence ChooseTransport(RunContext& run, const transport::WmiPathSetup& setup,
                                       const TransportChoiceLines& lines = {});

// The end of an update driven by the manager: 10 s for the manager to read the last ratio,
// then the progress working file is deleted, up to `attempts` tries 500 ms apart.
void FinishManagedUpdate(RunContext& run, int attempts);

}  // namespace runcontrol
