#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fwtool/command_line.h"
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

// What the checks learn about the flash and the banks.
struct FlashLayout {
  uint8_t flashType = 0;
  uint32_t sectorSize = 0;
  uint32_t bootBlockSize = 0;
  uint32_t bank2Address = 0;
  uint32_t startAddress = 0;
  uint32_t currentBank = 0;
  uint32_t targetBank = 0;
};

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

  void Log(std::string_view text) { ctx.log.Line(text); }
  // Reports a result code: printed in an operator run, into the mode's result file (only the
  // first of the run), always logged.
  void Report(const std::string& code) { ctx.reporter.Report(code); }
  // Makes the log set and the result files follow the run mode.
  void ApplySettings();
};

// One exchange of the firmware tool, kept for the failure's log lines.
struct Exchange {
  transport::IpmiRequest request;
  transport::IpmiResponse response;
  transport::ExchangeStatus status = transport::kExchangeOk;

  // Data byte n (1: the first after the completion code), when the answer holds it.
  bool DataByte(size_t n, uint8_t* value) const;
  uint8_t CompletionCode() const { return response.length >= 3 ? response.bytes[2] : 0xFF; }
};

// Sends network function / command / data. The response length is 0 before every exchange.
Exchange Send(FwRun& run, uint8_t netFn, uint8_t command, std::initializer_list<uint8_t> data);

// A failed exchange: the code, then the request and the response in the log.
void ReportFailedExchange(FwRun& run, const char* code, const Exchange& exchange);

}  // namespace korvane
