#include "sdrtool/command_sender.h"

#include <cstdio>

#include "runcontrol/run_context.h"
#include "sdrtool/command_errors.h"
#include "sdrtool/error_catalogue.h"
#include "wire/hex_text.h"

namespace veltrop {

CommandSender::CommandSender(runcontrol::RunContext& run, ErrorReporter& errors, CommandTrace& trace,
                             const bool& traceEnabled)
    : errors_(errors), observer_(run, trace, traceEnabled), sender_(run.transport, &observer_) {}

void CommandSender::PaceAndTrace::Sending(const transport::IpmiRequest& request) {
  run_.clock.SleepMs(1);
  trace_.request = "Snd: " + wire::HexDump(request.bytes, request.length);
  if (traceEnabled_) run_.log.Line(trace_.request);
}

void CommandSender::PaceAndTrace::Answered(const transport::IpmiRequest&, const ipmi::Answer& answer) {
  trace_.response = "Rec: " + wire::HexDump(answer.response.bytes, answer.response.length);
  if (!traceEnabled_) return;
  run_.log.Line(trace_.response);
  if (answer.status != transport::kExchangeOk) {
    char line[32];
    std::snprintf(line, sizeof line, "Response = %02X", static_cast<unsigned>(answer.status));
    run_.log.Line(line);
  }
}

void CommandSender::ReportFailure(ipmi::NetFn netFn, const ipmi::Outcome<ipmi::Done>& outcome,
                                  SendOptions options) {
  const SdrError error = SenderError(outcome, netFn, options);
  if (error == SdrError::kNone) return;
  // The completion code goes with its error; the other errors have no detail.
  if (outcome.failure == ipmi::Failure::kCompletionCode) {
    errors_.Report(error, 0, wire::HexPair(outcome.completionCode).c_str());
  } else {
    errors_.Report(error);
  }
}

}  // namespace veltrop
