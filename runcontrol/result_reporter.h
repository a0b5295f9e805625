#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/console.h"
#include "runcontrol/run_log.h"
#include "status/result_files.h"

namespace runcontrol {

// One row of a program's result-code table.
struct ResultMessage {
  const char* code;
  const char* message;
};

// How a program reports: plain values it sets at start-up.
struct ReportingRules {
  const ResultMessage* messages = nullptr;
  size_t messageCount = 0;
  // Operator runs (no result file): the message is printed on the console too.
  bool printWithoutResultFile = false;
  // The result file is written before the log line instead of after it.
  bool resultFileBeforeLog = false;
  // Only the first result of the run reaches the mode's result file; later ones are logged
  // (and printed) only, so a failure is not overwritten by what follows it.
  bool firstModeResultOnly = false;
};

// Turns result codes into what the run's caller sees: the log line with the code's message
// and the run mode's result file.
class ResultReporter {
 public:
  ResultReporter(RunLog& log, status::ResultFiles& files, platform::Console& console);

  ReportingRules rules;
  // The run mode's result file; none in runs without one.
  std::optional<status::ResultKind> modeKind;
  // Runs before a result file is written in a run that writes them (the programs' waiting
  // rules before a final update result); may be empty.
  std::function<void(status::ResultKind kind, const std::string& code)> beforeResultFile;

  // The code's message; empty for codes without one (exact, case-sensitive).
  const char* MessageOf(const std::string& code) const;
  // Logs the message and writes the code into the mode's result file.
  void Report(const std::string& code);
  // The mode's result file alone (no message); under firstModeResultOnly only the first one.
  void WriteModeResult(const std::string& code, const std::string& data = {},
                       const std::string& version = {});
  // Any result file. An unsaved file gets one log line naming it; when the XML machinery
  // cannot start at all, "Initilaize error" is printed, the write is skipped and the run goes
  // on to its end (restores, unlocks and cleanup must not be cut short), to exit with 1.
  void Write(status::ResultKind kind, const std::string& code, const std::string& data = {},
             const std::string& version = {});
  // Handles the outcome of a result file written elsewhere the same way.
  void HandleSave(status::XmlSaveResult saved, status::ResultKind kind);
  // 0, or 1 once a result file could not be written for want of the XML machinery.
  int ExitStatus() const { return exitStatus_; }

 private:
  RunLog& log_;
  status::ResultFiles& files_;
  platform::Console& console_;
  bool modeResultWritten_ = false;
  int exitStatus_ = 0;
};

}  // namespace runcontrol
