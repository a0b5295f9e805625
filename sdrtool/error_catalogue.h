#pragma once
#include <cstdint>

namespace runcontrol {
class RunContext;
}

namespace veltrop {

struct CommandTrace;

// Error number meaning "failed, and already reported".
constexpr int kAlreadyReported = 81;

// The catalogue text of an error number 1..79, or nullptr.
const char* ErrorText(int number);

// Reports the SDR tool's numbered errors: a log line "Error, " with the number's text and
// detail, the last command's trace for the transfer errors, and the first error of the run
// into the mode's result file as "SDR%03d".
class ErrorReporter {
 public:
  ErrorReporter(runcontrol::RunContext& run, const CommandTrace& trace) : run_(run), trace_(trace) {}

  // Returns the number reported; 0 for 0, 81 for 80, 81 and unknown numbers.
  int Report(int number, uint16_t value = 0, const char* detail = nullptr);

 private:
  runcontrol::RunContext& run_;
  const CommandTrace& trace_;
  bool firstErrorPending_ = true;
};

}  // namespace veltrop
