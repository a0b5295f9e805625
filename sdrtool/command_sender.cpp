#include "sdrtool/command_sender.h"

#include <cstdio>

#include "runcontrol/run_context.h"
#include "sdrtool/command_errors.h"
#include "sdrtool/error_catalogue.h"
#include "wire/hex_text.h"

namespace veltrop {

ipmi::Answer CommandSender::Exchange(const ipmi::Request& request) {
  run_.clock.SleepMs(1);
  const transport::IpmiRequest wire = request.Wire();
  trace_.request = "Snd: " + wire::HexDump(wire.bytes, wire.length);
  if (traceEnabled_) run_.log.Line(trace_.request);

  const ipmi::Answer answer = ipmi::Exchange(run_.transport, request);
  trace_.response = "Rec: " + wire::HexDump(answer.response.bytes, answer.response.length);
  if (traceEnabled_) {
    run_.log.Line(trace_.response);
    if (answer.status != transport::kExchangeOk) {
      char line[32];
      std::snprintf(line, sizeof line, "Response = %02X", static_cast<unsigned>(answer.status));
      run_.log.Line(line);
    }
  }
  return answer;
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
