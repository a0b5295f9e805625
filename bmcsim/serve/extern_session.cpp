#include "bmcsim/serve/extern_session.h"

#include <vector>

#include "bmcsim/faults/value_text.h"
#include "bmcsim/model/bmc_model.h"
#include "bmcsim/model/command_families.h"

namespace bmcsim {

namespace {

// A peer that is not QEMU (or one cut off mid-frame, over and over) may send nothing but odd
// frames, each worth a line on standard error. So a connection gets its first few lines one
// by one, then one line per thousand more, and the count of the rest when it ends: the log
// grows by a line per some thousand bytes at most, and no odd frame goes uncounted.
constexpr size_t kOddNotedOneByOne = 10;
constexpr size_t kOddPerSummary = 1000;

}  // namespace

ExternSession::ExternSession(BmcDirectory& bmc, platform::Clock& clock, Note note)
    : bmc_(bmc), clock_(clock), note_(std::move(note)) {}

void ExternSession::Restart() {
  decoder_.Reset();
  requests_.clear();
  oddFrames_ = 0;
}

void ExternSession::End() {
  const size_t unnoted =
      oddFrames_ > kOddNotedOneByOne ? (oddFrames_ - kOddNotedOneByOne) % kOddPerSummary : 0;
  if (unnoted > 0) {
    note_(std::to_string(unnoted) + " more odd frames on this connection, not told one by one");
  }
  oddFrames_ = 0;
}

void ExternSession::NoteOdd(const std::string& line) {
  ++oddFrames_;
  if (oddFrames_ <= kOddNotedOneByOne) {
    note_(line);
  } else if ((oddFrames_ - kOddNotedOneByOne) % kOddPerSummary == 0) {
    note_(std::to_string(kOddPerSummary) + " more odd frames, not told one by one");
  }
}

void ExternSession::Received(const uint8_t* data, size_t size) {
  std::vector<ExternFrame> frames;
  decoder_.Feed(data, size, &frames);
  for (ExternFrame& frame : frames) {
    switch (frame.kind) {
      case ExternFrame::Kind::kMessage:
      case ExternFrame::Kind::kTooLong:
        requests_.push_back(std::move(frame));
        break;
      case ExternFrame::Kind::kCommand:
        Command(frame.bytes);
        break;
      case ExternFrame::Kind::kBadChecksum:
        NoteOdd("dropped a message with a bad checksum (sequence " + HexByte(frame.sequence) + ")");
        break;
      case ExternFrame::Kind::kTooShort:
        NoteOdd("dropped a message too short to be one");
        break;
      case ExternFrame::Kind::kBadEscape:
        NoteOdd("dropped a frame that ended inside an escape");
        break;
    }
  }
}

wire::Bytes ExternSession::HandleNext() {
  if (requests_.empty()) return {};
  ExternFrame frame = std::move(requests_.front());
  requests_.pop_front();
  if (frame.kind == ExternFrame::Kind::kTooLong) {
    // The answer QEMU's own BMC gives.
    return EncodeExternMessage(frame.sequence, ResponseFrame(frame.bytes.data(), kCcRequestDataTruncated));
  }
  return Answer(frame.sequence, frame.bytes);
}

wire::Bytes ExternSession::Answer(uint8_t sequence, const wire::Bytes& request) {
  ExchangeResult result = bmc_.Exchange(request.data(), request.size(), clock_);
  // A request the fault rules leave unreachable or whose transfer fails gets no answer: QEMU's
  // time-out answers the host for it.
  if (result.outcome != ExchangeOutcome::kResponse) return {};
  wire::Bytes out = InterruptSetting(request, result.response);
  const wire::Bytes message = EncodeExternMessage(sequence, result.response);
  out.insert(out.end(), message.begin(), message.end());
  return out;
}

// The interface raises its interrupt only when the BMC tells QEMU to: after the host's driver
// changed the global enables, their interrupt bits (receive message queue, event message
// buffer full) go to QEMU ahead of the answer, as a BMC inside QEMU sets them. Without this
// the kernel's driver polls the interface, some ten milliseconds per exchange.
wire::Bytes ExternSession::InterruptSetting(const wire::Bytes& request, const wire::Bytes& response) {
  const bool setEnables =
      request.size() >= 2 && (request[0] >> 2) == kNetFnApp && request[1] == kCmdSetGlobalEnables;
  if (!setEnables || response.size() < 3 || response[2] != kCcOk) return {};
  BmcState state;
  std::string error;
  if (!bmc_.Read(&state, &error)) return {};
  const bool on = (state.globalEnables & kGlobalEnablesInterrupts) != 0;
  return EncodeExternCommand(wire::Bytes{on ? kExternEnableIrq : kExternDisableIrq});
}

void ExternSession::Command(const wire::Bytes& command) {
  wire::ByteReader reader(command);
  uint8_t code = 0;
  uint8_t version = 0;
  reader.U8(&code);
  if (code == kExternVersion && reader.U8(&version) && version != kExternProtocolVersion) {
    NoteOdd("QEMU speaks protocol version " + std::to_string(version) + ", this BMC version " +
            std::to_string(kExternProtocolVersion));
  }
  // The capabilities matter to a BMC that would send power or reset commands, which this one
  // never does; RESET tells of the machine's reset, which leaves the BMC running. None of
  // them asks for an answer.
}

}  // namespace bmcsim
