#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/console.h"
#include "sdrtool/prg_error.h"
#include "sdrtool/run_settings.h"
#include "sdrtool/sens_data.h"
#include "status/status_files.h"
#include "transport/ipmi_exchange.h"

namespace veltrop {

struct RepositoryImage;

// What the program's entry hands to a run: the operating system's side, or a test's.
struct VeltropEnv {
  platform::Clock* clock = nullptr;
  platform::Console* console = nullptr;
  transport::IpmiDriver* vendorDriver = nullptr;
  // The Microsoft IPMI driver, when the platform offers one; none means the vendor path.
  transport::IpmiDriver* wmiDriver = nullptr;
  std::string lockName = "veltrop.exe";
  std::string lockDir;  // empty: the system's lock directory
  std::function<void(int)> exitProcess;
};

// Log files, chosen by the run mode at the moment of each line.
constexpr const char* kMainLog = "veltrop.log";
constexpr const char* kVersionLog = "veltrop_version.log";
constexpr const char* kVersionLogOld = "veltrop_version.old";
constexpr const char* kRatioLog = "veltrop_ratio.log";

// The whole state of one veltrop run. Every object of the class chain reports into it.
class VeltropRun {
 public:
  explicit VeltropRun(VeltropEnv& env);
  ~VeltropRun();
  VeltropRun(const VeltropRun&) = delete;
  VeltropRun& operator=(const VeltropRun&) = delete;

  VeltropEnv& env;
  platform::Clock& clock;
  platform::Console& console;
  RunSettings settings;

  // Writes one time-stamped line to the mode's log, echoing it on the console when asked
  // to or while no mode is known.
  void LogLine(std::string_view text);
  // Logs the code's message and writes the code into the mode's result file.
  void ReportResultCode(const std::string& code);
  // WriteResultFile of the current mode's result kind (nothing without a mode).
  void WriteModeResult(const std::string& code, const std::string& data, const std::string& version);
  // Prints on the console (not logged).
  void Print(std::string_view text) { console.Write(text); }

  PrgError errors;
  status::StatusFiles status;
  transport::IpmiTransport transport;

  // Result files.
  std::string ResultDirPrefix;
  bool resultStartTimeSet = false;
  int64_t ResultStartTime = 0;
  bool firstErrorPending = true;

  // The BMC's repository (start-up check, version cache).
  std::string BmcSdrVersionText;
  std::string RepositoryCfgName;
  uint16_t RepositoryRecordCount = 1;
  uint32_t RepositoryAdditionTimestamp = 0;
  uint32_t RepositoryEraseTimestamp = 0;

  // Command layer (trace of the latest command and the reservation/completion flags).
  std::string SndLine;
  std::string RecLine;
  uint8_t ExpectReservationLoss = 0;
  uint8_t QuietCompletion = 0;
  uint8_t RepositoryReadState = 1;
  uint8_t CommandCheckKind = 0;
  uint8_t CommandCheckValue = 0;

  // Programming.
  std::FILE* TranscriptFile = nullptr;
  bool ProgrammedFlag = false;
  uint8_t CompareOnly = 0;
  bool Ipmi15Format = true;
  std::string SdrVersionText;
  int FileRecordCount = 1;
  int ReadRecordNumber = 1;
  int VerifyCount = 0;
  bool readProgressStarted = false;
  double readProgressAccumulator = 0.0;
  // The repository image of the run (repository read, backup, or a loaded image file).
  std::unique_ptr<RepositoryImage> Image;

  // Name of the log file for the current mode.
  const char* LogFileName() const;
  status::ResultKind ModeResultKind(bool* hasKind) const;
};

}  // namespace veltrop
