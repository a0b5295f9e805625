#include "bmcsim/serve/extern_framing.h"

namespace bmcsim {
namespace {

// Sequence byte and checksum around the IPMI message.
constexpr size_t kFrameOverhead = 2;
// Sequence, network function, command, checksum.
constexpr size_t kShortestMessage = 4;
constexpr uint8_t kEscapedBit = 0x10;

bool IsSpecial(uint8_t byte) {
  return byte == kExternMessageEnd || byte == kExternCommandEnd || byte == kExternEscape;
}

void PutEscaped(wire::ByteWriter& out, uint8_t byte) {
  if (IsSpecial(byte)) {
    out.U8(kExternEscape).U8(static_cast<uint8_t>(byte | kEscapedBit));
  } else {
    out.U8(byte);
  }
}

uint8_t Sum(const wire::Bytes& bytes) {
  uint8_t sum = 0;
  for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  return sum;
}

}  // namespace

void ExternDecoder::Feed(const uint8_t* data, size_t size, std::vector<ExternFrame>* frames) {
  wire::ByteReader in(data, size);
  uint8_t byte = 0;
  while (in.U8(&byte)) {
    if (byte == kExternMessageEnd || byte == kExternCommandEnd) {
      End(byte == kExternCommandEnd, frames);
    } else if (byte == kExternEscape) {
      escape_ = true;
    } else {
      if (escape_) byte = static_cast<uint8_t>(byte & ~kEscapedBit);
      escape_ = false;
      // A too-long frame keeps its first bytes, enough to answer it, and drops the rest.
      if (buffer_.size() >= kExternMaxMessage + kFrameOverhead) {
        tooLong_ = true;
      } else {
        buffer_.push_back(byte);
      }
    }
  }
}

void ExternDecoder::End(bool command, std::vector<ExternFrame>* frames) {
  ExternFrame frame;
  if (escape_) {
    frame.kind = ExternFrame::Kind::kBadEscape;
  } else if (buffer_.empty() || (command && tooLong_)) {
    // Nothing to act on: no command is that long.
    Reset();
    return;
  } else if (command) {
    // A command ends whatever came before it: a message cut short by one is lost.
    frame.kind = ExternFrame::Kind::kCommand;
    frame.bytes = buffer_;
  } else if (tooLong_) {
    frame.kind = ExternFrame::Kind::kTooLong;
    frame.sequence = buffer_[0];
    frame.bytes.assign(buffer_.begin() + 1, buffer_.begin() + 3);
  } else if (buffer_.size() < kShortestMessage) {
    frame.kind = ExternFrame::Kind::kTooShort;
  } else if (Sum(buffer_) != 0) {
    frame.kind = ExternFrame::Kind::kBadChecksum;
    frame.sequence = buffer_[0];
  } else {
    wire::ByteReader reader(buffer_);
    reader.U8(&frame.sequence);
    reader.Take(buffer_.size() - kFrameOverhead, &frame.bytes);
  }
  frames->push_back(std::move(frame));
  Reset();
}

void ExternDecoder::Reset() {
  buffer_.clear();
  escape_ = false;
  tooLong_ = false;
}

wire::Bytes EncodeExternMessage(uint8_t sequence, const wire::Bytes& message) {
  wire::ByteWriter out;
  PutEscaped(out, sequence);
  for (uint8_t byte : message) PutEscaped(out, byte);
  PutEscaped(out, static_cast<uint8_t>(-(sequence + Sum(message))));
  out.U8(kExternMessageEnd);
  return out.Take();
}

wire::Bytes EncodeExternCommand(const wire::Bytes& command) {
  wire::ByteWriter out;
  for (uint8_t byte : command) PutEscaped(out, byte);
  out.U8(kExternCommandEnd);
  return out.Take();
}

}  // namespace bmcsim
