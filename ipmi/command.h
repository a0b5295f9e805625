#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "protocol/ipmi_codes.h"
#include "transport/ipmi_exchange.h"
#include "wire/byte_io.h"

namespace ipmi {

// One request as a command builds it.
struct Request {
  NetFn netFn = NetFn::kApp;
  uint8_t command = 0;
  wire::Bytes data;
  // How the Microsoft driver's retry policy treats the request.
  transport::RequestKind kind;

  // Byte 0 the network function times 4 (LUN 0), byte 1 the command, then the data. False,
  // with *wire holding the first bytes only, when the request is longer than the wire allows.
  bool Wire(transport::IpmiRequest* wire) const;
};

Request MakeRequest(NetFn netFn, uint8_t command, wire::Bytes data = {});

// What came back for one request: the driver's status and the response in wire form.
struct Answer {
  transport::ExchangeStatus status = transport::kExchangeOk;
  transport::IpmiResponse response;
};

enum class Failure : uint8_t {
  kNone,
  kTransport,       // the driver failed; see status
  kCompletionCode,  // the BMC refused; see completionCode
  kMalformed,       // not an answer the command gives; see malformed
};

enum class Malformed : uint8_t {
  kNone,
  kNoCompletionCode,  // fewer than three bytes
  kWrongEcho,         // network function or command not those of the request
  kLength,            // shorter or longer than the command's answer
  kValue,             // a field the protocol does not allow
};

// The one result type of every command: a value, or why there is none.
template <typename T>
struct Outcome {
  Failure failure = Failure::kNone;
  T value{};
  transport::ExchangeStatus status = transport::kExchangeOk;
  uint8_t completionCode = kCcSuccess;
  Malformed malformed = Malformed::kNone;
  // The answer's byte 0 and length as they came, for the messages that show them.
  uint8_t answerNetFn = 0;
  uint8_t answerLength = 0;

  bool ok() const { return failure == Failure::kNone; }
  explicit operator bool() const { return ok(); }
  bool Refused(uint8_t code) const { return failure == Failure::kCompletionCode && completionCode == code; }

  // The same failure for an outcome of another type (a command built on this one).
  template <typename U>
  Outcome<U> As() const {
    Outcome<U> out;
    out.failure = failure;
    out.status = status;
    out.completionCode = completionCode;
    out.malformed = malformed;
    out.answerNetFn = answerNetFn;
    out.answerLength = answerLength;
    return out;
  }
};

// Nothing beyond success: the commands whose answers carry no data the programs use.
struct Done {};

// The answer's frame after the status: echo and completion code. failure kNone leaves *data on
// the bytes after the completion code.
Outcome<Done> DecodeFrame(const Request& request, const Answer& answer, wire::ByteReader* data);

// A command: its request and how its answer's data are read. readData takes the bytes after
// the completion code and returns kNone once *value holds them; every byte must be taken, an
// answer that goes on is malformed (kLength).
template <typename T>
struct Command {
  Request request;
  std::function<Malformed(wire::ByteReader& data, T* value)> readData;

  Outcome<T> Decode(const Answer& answer) const {
    wire::ByteReader data(nullptr, 0);
    Outcome<T> out = DecodeFrame(request, answer, &data).template As<T>();
    if (!out) return out;
    Malformed why = readData(data, &out.value);
    if (why == Malformed::kNone && !data.AtEnd()) why = Malformed::kLength;
    if (why != Malformed::kNone) {
      out.failure = Failure::kMalformed;
      out.malformed = why;
      out.value = T{};
    }
    return out;
  }
};

// An answer without data.
Malformed NoData(wire::ByteReader& data, Done* value);

}  // namespace ipmi
