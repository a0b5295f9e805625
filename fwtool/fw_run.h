#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fwtool/command_line.h"
#include "fwtool/result_codes.h"
#include "ipmi/sender.h"
#include "runcontrol/run_context.h"
#include "runcontrol/run_environment.h"
#include "transport/ipmi_message.h"
#include "transport/wmi_driver.h"

namespace korvane {

// The files that lie beside the program (its directory, taken from how it was started).
struct ProgramFiles {
  std::string directory;  // with its trailing separator; empty: the current directory
  std::string log, logBackup, versionLog, versionLogBackup;
  std::string hardwareList, image, progress;
};

// argv[0] up to its last path separator: the program's own directory, or the current one when
// it was started by its bare name.
ProgramFiles FilesBeside(const std::string& programPath);

// What Get Device ID told about the BMC.
struct BmcIdentity {
  int deviceId = 0;
  std::string firmwareVersion;  // "%02x.%02x"
  std::string hardwareId;       // "%02x%02x", the key of mchk_fil
};

// The flash's erase units: 64-KiB sectors, or 256 KiB on the chip that says so.
constexpr uint32_t kSmallSector = 0x10000;
constexpr uint32_t kLargeSector = 0x40000;
// A flash that answers busy is asked again, this many sendings in all, this far apart.
constexpr int kBusySendings = 10;
constexpr uint32_t kBusyPauseMs = 100;

// What the checks learn about the flash and the banks, each confirmed before it is used.
struct FlashLayout {
  uint8_t flashType = 0;
  uint32_t sectorSize = 0;
  uint32_t bootBlockSize = 0;
  // The start address of bank 2, which is also the length of a bank's range.
  uint32_t bank2Address = 0;
  uint32_t startAddress = 0;
  uint32_t currentBank = 0;
  uint32_t targetBank = 0;

  // The bank a pass programs: the one it named, or for FFh the one that is not running.
  uint8_t BankInProgram() const {
    return static_cast<uint8_t>(targetBank == 1 || targetBank == 2 ? targetBank : currentBank % 2 + 1);
  }
  uint32_t StartOf(uint8_t bank) const { return bank == 2 ? bank2Address : 0; }
};

// A change the BMC acknowledged but does not show when read back is sent this many times in
// all before the run gives up on it.
constexpr int kChangeSendings = 3;

// The image file as loaded for the run.
struct FirmwareImage {
  static constexpr size_t kBufferSize = 0x800000;
  std::vector<uint8_t> bytes;
};

// The two bytes Get Channel Access returned for channel 2: access and privilege limit.
struct ChannelAccessSave {
  uint8_t access = 0;
  uint8_t privilege = 0;
  bool saved = false;
};

bool IsSingleBank(int deviceId);
bool IsDualBank(int deviceId);

// What the Microsoft driver's path tells the firmware tool: a method it cannot prepare shows
// its HRESULT on the console.
class WmiEventsToConsole : public transport::WmiPathEvents {
 public:
  explicit WmiEventsToConsole(platform::Console& console) : console_(console) {}
  void RetriesUsedUpUnderLoad(uint8_t) override {}
  void MethodUnavailable(int32_t hresult) override {
    console_.Write("hr: " + std::to_string(hresult) + "\n");
  }

 private:
  platform::Console& console_;
};

// One Korvane run: the shared run context and the firmware tool's own state.
class FwRun {
 public:
  FwRun(runcontrol::RunEnvironment& env, const ProgramFiles& files);
  // Puts back whatever is still held (ReleaseHeld), should anything have escaped the entry.
  ~FwRun();
  FwRun(const FwRun&) = delete;
  FwRun& operator=(const FwRun&) = delete;

  runcontrol::RunContext ctx;
  FwSettings settings;
  ProgramFiles files;
  BmcIdentity identity;
  FlashLayout layout;
  FirmwareImage image;
  ChannelAccessSave channel;
  int32_t lastProgressStep = 0;
  WmiEventsToConsole wmiEvents{ctx.console};
  // The step under way: its code answers for the run when something unexpected ends it.
  FwCode step = FwCode::kIllegalParameter;
  // The driver's maintenance mode is on (HoldMaintenance).
  bool maintenanceHeld = false;

  // The latest exchange, for the log lines of a failure; every command goes through sender.
  ipmi::LatestExchange latest;
  ipmi::Sender sender{ctx.transport, &latest};

  void Log(std::string_view text) { ctx.log.Line(text); }
  // Reports a result code: printed in an operator run, into the mode's result file (only the
  // first of the run), always logged.
  void Report(FwCode code) { ctx.reporter.Report(CodeText(code)); }
  void Report(const std::string& code) { ctx.reporter.Report(code); }
  // Makes the log set and the result files follow the run mode.
  void ApplySettings();

  template <typename T>
  ipmi::Outcome<T> Send(const ipmi::Command<T>& command) {
    return sender.Send(command);
  }
};

// Keeps the driver's own traffic away from the BMC while its flash is rewritten.
void HoldMaintenance(FwRun& run);
// Puts back what the run changed on the machine and the BMC, once, whatever ended the run:
// the driver's maintenance mode, then channel 2. 0, or 1 when channel 2 could not be restored
// (C18 reported).
int ReleaseHeld(FwRun& run);

// Logs the latest exchange as the request and response lines.
void LogLastExchange(FwRun& run);
// A failed exchange: the code, then the latest request and response in the log. Returns 1, the
// failure of the operation that reports it.
int ReportFailedExchange(FwRun& run, FwCode code);

}  // namespace korvane
