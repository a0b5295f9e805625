#pragma once
#include <cstdint>

namespace veltrop {

class VeltropRun;

// Error number meaning "failed, and already reported".
constexpr int kAlreadyReported = 81;

// The catalogue text of an error number 1..79, or nullptr.
const char* ErrorText(int number);

// Root of the SDR tool's class chain: every object of the chain reports numbered errors
// into the run it belongs to.
class PrgError {
 public:
  explicit PrgError(VeltropRun& run) : run_(run) {}

  // Logs "Error, " with the number's text and detail, dumps the last transfer for transport
  // numbers, and hands the first error of the run to the result file as "SDR%03d".
  // Returns the number reported; 0 for 0, 81 for 80, 81 and unknown numbers.
  int Report(int number, uint16_t value = 0, const char* detail = nullptr);

  VeltropRun& run() const { return run_; }

 protected:
  VeltropRun& run_;
};

}  // namespace veltrop
