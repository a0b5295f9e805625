#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/instance_lock.h"

namespace status {

// The five files a result call can write.
enum class ResultKind { VersionResult, NormalResult, ForceResult, RatioWorkFile, RatioResult };

// "Get_version.xml", "Update_normal.xml", "Update_force.xml", "Get_ratio.xml_tmp", "Get_ratio.xml".
const char* ResultFileName(ResultKind kind);

// What each program hands in at start-up: the status library itself knows neither program.
struct StatusHooks {
  // Null: the system clock and the standard console.
  platform::Clock* clock = nullptr;
  platform::Console* console = nullptr;
  // Gating: false where the program writes no result files (operator runs, no run mode).
  // Empty: every kind is written.
  std::function<bool(ResultKind)> shouldWrite;
  // Placement: the full path of the kind's file for this run. Empty: the plain file name.
  std::function<std::string(ResultKind)> pathFor;
  // Runs before a file of the kind is written (the SDR tool's 30-second rule); may be empty.
  std::function<void(ResultKind)> beforeWrite;
  // The program's log line writer.
  std::function<void(const std::string&)> log;
  // The program's result-code reporter (logs the code's message and writes the mode's result
  // file): "Busy", "Duplex" and the ratio query's time-out code go through it.
  std::function<void(const std::string& code)> reportResult;
  // Ends the process; called with 1 when the XML machinery cannot be initialised at all.
  std::function<void(int)> exitProcess;
  // Lock identity: "veltrop.exe" or "Global\Korvane.exe"; lockDir as for TryAcquireInstanceLock.
  std::string lockName;
  std::string lockDir;
  // True in the program's version-query mode: a refused lock reports "Busy", else "Duplex".
  std::function<bool()> isVersionMode;
  // True when the lock is only tested and released at once (the SDR tool's version query).
  std::function<bool()> releaseLockAtOnce;
  // The ratio query's time-out code ("SDRC08" or "C19").
  std::string ratioTimeoutCode;
  // Update result files to wait for before a final result (firmware tool); may be empty.
  std::function<std::string()> pendingResponseFile;
};

class StatusFiles {
 public:
  explicit StatusFiles(StatusHooks hooks);
  ~StatusFiles();

  // Writes the Response document of the kind (atomically: beside, then renamed over). A file
  // that cannot be saved gets one log line naming it; nothing else changes. When the XML
  // machinery cannot start, prints "Initilaize error" and calls exitProcess(1).
  void WriteResultFile(ResultKind kind, const std::string& resultCode, const std::string& data,
                       const std::string& version);

  int32_t ProgressRatio = 0;
  // Writes the progress working file with "OK" and ProgressRatio.
  void PublishProgress();
  // Copies the working file to the answer file, or answers "No-Command"; time-out after 12
  // failed copies 500 ms apart.
  void RatioQuery();
  // 0: this instance goes on (the lock is held until destruction, or already released in
  // the version query); 1: another instance runs, "Busy"/"Duplex" already reported.
  int AcquireInstanceLock();
  // Firmware tool: waits up to 61 pauses of 500 ms for the manager to take the previous
  // update result file away.
  void WaitResponseFileConsumed();

 private:
  platform::Console& Console();
  platform::Clock& Clock();
  std::string PathFor(ResultKind kind) const;
  void Log(const std::string& line);
  void Report(const std::string& code);

  StatusHooks hooks_;
  std::unique_ptr<platform::InstanceLock> lock_;
};

// The SDR tool's result directory: "" when ExUpInfo.xml is in the current directory, else
// the nearest of "../", "../../", ... (one level per separator of the current directory)
// that holds it, else "".
std::string LocateResultDir();

// The firmware tool's package version from ExUpInfo.xml in the current directory:
// 0 and the text (at most 5 characters), or -1 (XML machinery unavailable), -2 (missing or
// not well-formed), -3 (no document element or no version element), -4 (empty version
// text, a text of 6 characters or more, or an error while reading).
int ReadExUpInfoVersion(char out[8], platform::Console* console);

// The SDR tool's 30-second rule: sleeps until 30 s have passed since startSeconds (at most
// 30 s, also when the clock went back). traceLog (may be empty) receives "update end" and
// "result file reply" around the wait.
void HoldBackUpdateResult(platform::Clock& clock, int64_t startSeconds,
                          const std::function<void(const std::string&)>& traceLog);

}  // namespace status
