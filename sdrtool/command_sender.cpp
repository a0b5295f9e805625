#include "sdrtool/command_sender.h"

#include <cstdio>
#include <cstring>

#include "runcontrol/run_context.h"
#include "sdrtool/error_catalogue.h"
#include "transport/ipmi_exchange.h"
#include "wire/hex_text.h"

namespace veltrop {
namespace {

constexpr size_t kCompletionCodeOffset = 2;
constexpr uint8_t kOemNetFnByte = 0xF8;
constexpr uint8_t kReservationCancelled = 0xC5;

}  // namespace

wire::ByteWriter Request(uint8_t netFnByte, uint8_t command) {
  wire::ByteWriter request;
  request.U8(netFnByte).U8(command);
  return request;
}

bool ReservationLost(int sendResult, const CommandReply& reply) {
  // 28 and 29 are transport failures: byte 2 then holds nothing the BMC said.
  const bool completionCode = sendResult == kAlreadyReported || sendResult == 26;
  return completionCode && reply.length > static_cast<int>(kCompletionCodeOffset) &&
         reply.CompletionCode() == kReservationCancelled;
}

int CommandSender::Send(const wire::Bytes& request, CommandReply* reply, SendOptions options) {
  run_.clock.SleepMs(1);
  trace_.request = "Snd: " + wire::HexDump(request.data(), request.size());
  if (traceEnabled_) run_.log.Line(trace_.request);

  transport::IpmiRequest wireRequest;
  wireRequest.length = static_cast<uint8_t>(request.size());
  std::memcpy(wireRequest.bytes, request.data(), wireRequest.length);
  wireRequest.kind = options.kind;
  transport::IpmiResponse response;
  const transport::ExchangeStatus status = transport::IpmiExchange(run_.transport, wireRequest, &response);
  uint8_t length =
      response.length < reply->capacity ? response.length : static_cast<uint8_t>(reply->capacity);
  std::memcpy(reply->bytes, response.bytes, length);
  reply->length = length;
  trace_.response =
      "Rec: " + wire::HexDump(reply->bytes, length < reply->capacity ? length : reply->capacity);
  if (traceEnabled_) {
    run_.log.Line(trace_.response);
    if (status != transport::kExchangeOk) {
      char line[32];
      std::snprintf(line, sizeof line, "Response = %02X", static_cast<unsigned>(status));
      run_.log.Line(line);
    }
  }

  if (status != transport::kExchangeOk)
    return errors_.Report(status == transport::kDriverUnreachable ? 28 : 29);
  // Without a completion code nothing in the answer can be trusted.
  if (reply->length <= static_cast<int>(kCompletionCodeOffset)) return errors_.Report(29);
  const uint8_t completion = reply->CompletionCode();
  if (completion == 0x00) return 0;
  if (options.quietCompletion) return kAlreadyReported;
  if (!options.reservationLossExpected || completion != kReservationCancelled) {
    errors_.Report(!request.empty() && request[0] == kOemNetFnByte ? 77 : 26, 0,
                   wire::HexPair(completion).c_str());
  }
  return readState_ != ReadBackState::kRecordRead ? kAlreadyReported : 26;
}

}  // namespace veltrop
