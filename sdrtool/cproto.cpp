#include "sdrtool/cproto.h"

#include <cstdio>
#include <string>

#include "sdrtool/veltrop_run.h"

namespace veltrop {
namespace {

std::string TraceLine(const char* prefix, const uint8_t* bytes, int count) {
  std::string line = prefix;
  char buf[4];
  for (int i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf, "%02X ", bytes[i]);
    line += buf;
  }
  return line;
}

}  // namespace

int CProto::SendCommand(const uint8_t* request, int requestLength, uint8_t* response, size_t responseCapacity,
                        int* responseLength) {
  VeltropRun& run = run_;
  run.clock.SleepMs(1);
  run.SndLine = TraceLine("Snd: ", request, requestLength);
  if (run.settings.TraceEnabled) run.LogLine(run.SndLine);

  uint8_t length = 0;
  transport::ExchangeStatus status = transport::IpmiExchange(
      run.transport, request, static_cast<uint8_t>(requestLength), response, responseCapacity, &length);
  *responseLength = length;

  int shown = length;
  if (static_cast<size_t>(shown) > responseCapacity) shown = static_cast<int>(responseCapacity);
  run.RecLine = TraceLine("Rec: ", response, shown);
  if (run.settings.TraceEnabled) {
    run.LogLine(run.RecLine);
    if (status != transport::kExchangeOk) {
      char line[32];
      std::snprintf(line, sizeof line, "Response = %02X", static_cast<unsigned>(status));
      run.LogLine(line);
    }
  }

  if (status != transport::kExchangeOk) {
    return Report(status == transport::kDriverUnreachable ? 28 : 29);
  }
  // Byte 2 is read as the buffer holds it; a short response is caught by the callers'
  // length checks.
  const uint8_t completion = response[2];
  if (completion == 0x00) return 0;
  if (run.QuietCompletion) return kAlreadyReported;
  if (run.ExpectReservationLoss == 0 || completion != 0xC5) {
    char code[4];
    std::snprintf(code, sizeof code, "%02X", completion);
    Report(request[0] == 0xF8 ? 77 : 26, 0, code);
  }
  return run.RepositoryReadState != 0 ? kAlreadyReported : 26;
}

}  // namespace veltrop
