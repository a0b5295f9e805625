#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "runcontrol/run_context.h"
#include "runcontrol/run_environment.h"
#include "sdrtool/backup_image.h"
#include "sdrtool/command_line.h"
#include "sdrtool/command_sender.h"
#include "sdrtool/error_catalogue.h"
#include "sdrtool/transcript.h"
#include "transport/wmi_driver.h"

namespace veltrop {

// Log files, chosen by the run mode.
constexpr const char* kMainLog = "veltrop.log";
constexpr const char* kVersionLog = "veltrop_version.log";
constexpr const char* kVersionLogOld = "veltrop_version.old";
constexpr const char* kRatioLog = "veltrop_ratio.log";

// The BMC's repository as the start-up steps found it.
struct BmcRepository {
  std::string sdrVersionText;  // from the version cache or the repository's version record
  std::string cfgName;         // the configuration script the repository names
  uint16_t recordCount = 1;
  uint32_t additionTimestamp = 0;
  uint32_t eraseTimestamp = 0;
};

// How far the run has read the repository back: an empty repository is found once per run.
enum class ReadBackState : uint8_t {
  kRecordRead,
  kNothingRead,
  kRepositoryEmpty,
};

// What the programming procedures of one run share.
struct ProgrammingState {
  Transcript transcript;
  // The last ProgramSdrFile wrote the repository (not only compared).
  bool programmed = false;
  bool ipmi15Format = true;
  std::string sdrVersionText;  // of the input
  int fileRecordCount = 1;
  int readRecordNumber = 1;
  int verifyCount = 0;
  bool readProgressStarted = false;
  double readProgressAccumulator = 0.0;
  ReadBackState readState = ReadBackState::kNothingRead;
};

// What the Microsoft driver's path tells the SDR tool: its retries used up under load are
// error 79.
class WmiEventsToErrors : public transport::WmiPathEvents {
 public:
  explicit WmiEventsToErrors(ErrorReporter& errors) : errors_(errors) {}
  void RetriesUsedUpUnderLoad(uint8_t) override { errors_.Report(SdrError::kMsDriverRetriesFailed); }
  void MethodUnavailable(int32_t) override {}

 private:
  ErrorReporter& errors_;
};

// One veltrop run: the shared run context and the SDR tool's own state.
class SdrRun {
 public:
  explicit SdrRun(runcontrol::RunEnvironment& env);
  // The last resort for a run that ends without releasing the update lock: the lock is
  // discarded, whatever that costs.
  ~SdrRun();
  SdrRun(const SdrRun&) = delete;
  SdrRun& operator=(const SdrRun&) = delete;

  runcontrol::RunContext ctx;
  RunSettings settings;
  CommandTrace trace;
  ErrorReporter errors;
  CommandSender commands;
  WmiEventsToErrors wmiEvents{errors};
  BmcRepository bmc;
  ProgrammingState programming;
  RepositoryImage image;
  // The BMC's spared-repository update lock as far as the run knows: held from the request that
  // takes it (its answer may be lost) until it is committed or a discarding release was sent.
  bool updateLockHeld = false;
  // When the first "OK" update result was written; later update results wait for 30 s.
  bool resultStartTimeSet = false;
  int64_t resultStartTime = 0;

  void Log(std::string_view text) { ctx.log.Line(text); }
  void Print(std::string_view text) { ctx.console.Write(text); }
  void Report(const std::string& code) { ctx.reporter.Report(code); }
  // Sets the progress ratio and publishes it.
  void SetProgress(int ratio) { ctx.SetProgress(ratio); }

  // Makes the log, the console echo and the result files follow the settings: called once the
  // command line is parsed (and by tests that set a mode directly).
  void ApplySettings();
};

}  // namespace veltrop
