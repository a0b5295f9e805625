#pragma once
#include <cstdint>
#include <string>
#include <variant>

#include "transport/wmi_request.h"

namespace transport {

// Re-sends inside one method call, keyed on the completion code and on the kind of request.
// Counts and waits below zero count as zero. Responses carry the answering network function
// (request byte 0 + 4).
struct CodeKeyedRetrySettings {
  int32_t ffRetries = 10;        // re-sends after 0xFF
  int32_t otherRetries = 3;      // re-sends after other non-zero codes
  int32_t waitMs = 10000;        // before a 0xFF or other re-send
  int32_t lockRetries = 1;       // re-sends of the lock request after 0xCE
  int32_t lockWaitSeconds = 60;  // before a lock re-send
  DriverWaits driverWaits{15000000, 15000000, 10000000};
  // Logs the driver values once, on the run's first request.
  bool logDriverWaits = false;
};

// The whole request (parameters filled anew) sent up to ten times while the completion code
// is not 0x00, each failure logged with the exchange. Responses carry request byte 0 unchanged.
struct WholeRequestRetrySettings {
  int64_t waitSeconds = 0;  // after each failed attempt, the last one too; 0: none
  DriverWaits driverWaits{250000000, 250000000, 240000000};
  std::string exchangeLinePrefix = "  ";
};

// The policy a program hands in; the transport runs the one it names.
using WmiRetryPolicy = std::variant<CodeKeyedRetrySettings, WholeRequestRetrySettings>;

constexpr int kWholeRequestAttempts = 10;

// What to do after a completion code: log, optionally log the exchange, wait, then send again
// or stop with finalCode in the response.
struct RetryStep {
  bool resend = false;
  std::string line;  // empty: none
  bool logExchange = false;
  uint64_t waitMs = 0;
  uint8_t finalCode = 0;
  // The request ends with a non-zero code after every 0xFF re-send was used.
  bool retriesUsedUpUnderLoad = false;
};

// The code-keyed policy over the completion codes of one request, one call of Next per code.
class CodeKeyedRetry {
 public:
  CodeKeyedRetry(const CodeKeyedRetrySettings& settings, RequestKind kind);
  RetryStep Next(uint8_t completionCode);

 private:
  RetryStep Resend(const char* format, uint8_t code, uint64_t waitMs);
  RetryStep Stop(uint8_t code) const;
  bool Forgiven(uint8_t code) const;

  RequestKind kind_;
  int32_t ffRetries_;
  uint64_t waitMs_;
  uint64_t lockWaitMs_;
  int32_t ffLeft_;
  int32_t otherLeft_;
  int32_t lockLeft_;
};

// The whole-request policy over the completion codes of the attempts of one request.
class WholeRequestRetry {
 public:
  explicit WholeRequestRetry(const WholeRequestRetrySettings& settings);
  RetryStep Next(uint8_t completionCode);

 private:
  uint64_t waitMs_;
  int attempt_ = 0;
};

}  // namespace transport
