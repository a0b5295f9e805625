#include "ipmi/command.h"

#include <cstring>

namespace ipmi {
namespace {

constexpr size_t kFrameBytes = 3;     // network function, command, completion code
constexpr uint8_t kAnswerOffset = 4;  // the answer's network function byte is the request's + 4

}  // namespace

Request MakeRequest(NetFn netFn, uint8_t command, wire::Bytes data) {
  Request request;
  request.netFn = netFn;
  request.command = command;
  request.data = std::move(data);
  return request;
}

transport::IpmiRequest Request::Wire() const {
  transport::IpmiRequest wire;
  wire.bytes[0] = static_cast<uint8_t>(static_cast<uint8_t>(netFn) << 2);
  wire.bytes[1] = command;
  const size_t count = data.size() < sizeof wire.bytes - 2 ? data.size() : sizeof wire.bytes - 2;
  if (count) std::memcpy(wire.bytes + 2, data.data(), count);
  wire.length = static_cast<uint8_t>(count + 2 > 255 ? 255 : count + 2);
  wire.kind = kind;
  return wire;
}

Answer Exchange(transport::IpmiTransport& transport, const Request& request) {
  Answer answer;
  answer.status = transport::IpmiExchange(transport, request.Wire(), &answer.response);
  return answer;
}

Outcome<Done> DecodeFrame(const Request& request, const Answer& answer, wire::ByteReader* data) {
  Outcome<Done> out;
  const transport::IpmiResponse& response = answer.response;
  out.answerNetFn = response.length > 0 ? response.bytes[0] : 0;
  out.answerLength = response.length;
  if (answer.status != transport::kExchangeOk) {
    out.failure = Failure::kTransport;
    out.status = answer.status;
    return out;
  }
  const uint8_t requested = static_cast<uint8_t>(static_cast<uint8_t>(request.netFn) << 2);
  // The Microsoft driver's path of the firmware tool hands back the request's own byte 0.
  const bool echoes = response.length < 2 ||
                      ((response.bytes[0] == requested + kAnswerOffset || response.bytes[0] == requested) &&
                       response.bytes[1] == request.command);
  if (!echoes) {
    out.failure = Failure::kMalformed;
    out.malformed = Malformed::kWrongEcho;
    return out;
  }
  if (response.length < kFrameBytes) {
    out.failure = Failure::kMalformed;
    out.malformed = Malformed::kNoCompletionCode;
    return out;
  }
  if (response.bytes[2] != kCcSuccess) {
    out.failure = Failure::kCompletionCode;
    out.completionCode = response.bytes[2];
    return out;
  }
  *data = wire::ByteReader(response.bytes + kFrameBytes, response.length - kFrameBytes);
  return out;
}

Malformed NoData(wire::ByteReader&, Done*) {
  return Malformed::kNone;
}

}  // namespace ipmi
