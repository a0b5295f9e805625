#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/ipmi_message.h"
#include "wire/byte_io.h"

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

// How far the run has read the repository; a bad completion code is reported as 26 only
// once records have been read.
enum class ReadBackState : uint8_t {
  kRecordRead = 0,
  kNothingRead = 1,
  kRepositoryEmpty = 6,
};

// Per-call choices of how a bad completion code is taken.
struct SendOptions {
  // A refusal is expected and reported by nobody (81 without a message).
  bool quietCompletion = false;
  // 0xC5 (reservation lost) is expected: the caller starts over with a new reservation.
  bool reservationLossExpected = false;
  // How the Microsoft driver's retry policy treats the request.
  transport::RequestKind kind;
};

// The BMC's answer to one command, in wire form.
struct CommandReply {
  uint8_t bytes[transport::kIpmiBufferSize] = {};
  int length = 0;
  // What the caller's buffer takes; a longer answer is cut there, as the driver does.
  size_t capacity = transport::kIpmiBufferSize;

  uint8_t NetFnByte() const { return bytes[0]; }
  // Byte 2; meaningful once the command succeeded or failed on a completion code.
  uint8_t CompletionCode() const { return bytes[2]; }
  // The data after the completion code, as far as the answer holds it.
  wire::ByteReader Data() const {
    return wire::ByteReader(bytes + 3, length > 3 ? static_cast<size_t>(length) - 3 : 0);
  }
  // The answer from byte offset on.
  wire::ByteReader From(size_t offset) const {
    return wire::ByteReader(bytes + offset, static_cast<size_t>(length) > offset ? length - offset : 0);
  }
};

// The SDR tool's command layer: one IPMI command with its trace and error reporting.
class CommandSender {
 public:
  CommandSender(runcontrol::RunContext& run, ErrorReporter& errors, CommandTrace& trace,
                const bool& traceEnabled, const ReadBackState& readState)
      : run_(run), errors_(errors), trace_(trace), traceEnabled_(traceEnabled), readState_(readState) {}

  // Pauses 1 ms, sends the request, keeps the trace lines (logged with -test) and turns
  // transport failures (28, 29), an answer too short to carry a completion code (29) and bad
  // completion codes (26, 77, or 81 as the options and the read state say) into error
  // numbers. 0 on success.
  int Send(const wire::Bytes& request, CommandReply* reply, SendOptions options = {});

 private:
  runcontrol::RunContext& run_;
  ErrorReporter& errors_;
  CommandTrace& trace_;
  const bool& traceEnabled_;
  const ReadBackState& readState_;
};

// A request: network function byte, command, then the data.
wire::ByteWriter Request(uint8_t netFnByte, uint8_t command);

// True when a failed request was answered with 0xC5: the reservation was taken away.
bool ReservationLost(int sendResult, const CommandReply& reply);

}  // namespace veltrop
