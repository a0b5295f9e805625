#include "ipmi/command.h"

#include <cstring>

namespace ipmi {
namespace {

constexpr size_t kFrameBytes = 3;     // network function, command, completion code
constexpr uint8_t kAnswerOffset = 4;  // the answer's network function byte is the request's + 4
constexpr size_t kMaxRequestLength = 255;

}  // namespace

Request MakeRequest(NetFn netFn, uint8_t command, wire::Bytes data) {
  Request request;
  request.netFn = netFn;
  request.command = command;
  request.data = std::move(data);
  return request;
}

bool Request::Wire(transport::IpmiRequest* wire) const {
  *wire = transport::IpmiRequest{};
  wire->bytes[0] = static_cast<uint8_t>(static_cast<uint8_t>(netFn) << 2);
  wire->bytes[1] = command;
  wire->kind = kind;
  // The length travels in 8 bits: network function, command and at most 253 data bytes.
  const size_t room = kMaxRequestLength - 2;
  const size_t count = data.size() < room ? data.size() : room;
  if (count) std::memcpy(wire->bytes + 2, data.data(), count);
  wire->length = static_cast<uint8_t>(count + 2);
  return count == data.size();
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
  // Only a path that says so hands back the request's own byte 0; elsewhere that byte is a
  // reflected request, not an answer.
  const uint8_t answering =
      response.netFnAsRequested ? requested : static_cast<uint8_t>(requested + kAnswerOffset);
  const bool echoes =
      response.length < 2 || (response.bytes[0] == answering && response.bytes[1] == request.command);
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
