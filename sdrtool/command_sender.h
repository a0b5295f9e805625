#pragma once
#include <string>

#include "ipmi/sender.h"

namespace runcontrol {
class RunContext;
}

namespace veltrop {

class ErrorReporter;

// The trace lines of the latest command ("Snd: ..." and "Rec: ..."); the error reporter
// dumps them after transfer errors.
struct CommandTrace {
  std::string request;
  std::string response;
};

// Per-call choices of how a refusal is taken.
struct SendOptions {
  // A refusal (any completion code) is expected and reported by nobody.
  bool quietCompletion = false;
  // 0xC5 (reservation lost) is expected: the caller starts over with a new reservation.
  bool reservationLossExpected = false;
};

// The SDR tool's way of sending a command: a 1 ms pause, the trace lines (logged with -test),
// the answer decoded by the command, and the failures the tool reports wherever they happen.
class CommandSender {
 public:
  CommandSender(runcontrol::RunContext& run, ErrorReporter& errors, CommandTrace& trace,
                const bool& traceEnabled);
  CommandSender(const CommandSender&) = delete;
  CommandSender& operator=(const CommandSender&) = delete;

  // Sends the command and returns its outcome. Reported here: a transport failure (28, or
  // 29), an answer without a completion code (29) and a completion code (26, or 77 for the
  // OEM network function) unless the options expect it. An answer that is no answer of the
  // command (another echo, another length) is the caller's to judge: it knows what it needed.
  template <typename T>
  ipmi::Outcome<T> Send(const ipmi::Command<T>& command, SendOptions options = {}) {
    ipmi::Outcome<T> out = sender_.Send(command);
    // Whatever it echoes, an answer too short to hold a completion code holds none.
    if (out.failure == ipmi::Failure::kMalformed && out.answerLength < kShortestAnswer) {
      out.malformed = ipmi::Malformed::kNoCompletionCode;
    }
    ReportFailure(command.request.netFn, out.template As<ipmi::Done>(), options);
    return out;
  }

 private:
  // Network function, command and completion code.
  static constexpr uint8_t kShortestAnswer = 3;

  // The pause before every request and the trace lines around it.
  class PaceAndTrace : public ipmi::ExchangeObserver {
   public:
    PaceAndTrace(runcontrol::RunContext& run, CommandTrace& trace, const bool& traceEnabled)
        : run_(run), trace_(trace), traceEnabled_(traceEnabled) {}
    void Sending(const transport::IpmiRequest& request) override;
    void Answered(const transport::IpmiRequest& request, const ipmi::Answer& answer) override;

   private:
    runcontrol::RunContext& run_;
    CommandTrace& trace_;
    const bool& traceEnabled_;
  };

  void ReportFailure(ipmi::NetFn netFn, const ipmi::Outcome<ipmi::Done>& outcome, SendOptions options);

  ErrorReporter& errors_;
  PaceAndTrace observer_;
  ipmi::Sender sender_;
};

}  // namespace veltrop
