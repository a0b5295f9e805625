// QEMU's external BMC framing: escapes, checksum, lengths and control commands, and what a
// session holds and logs for a peer that sends anything.
#include "bmcsim/serve/extern_framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bmcsim/model/command_table.h"
#include "bmcsim/serve/extern_session.h"
#include "bmcsim/store/bmc_directory.h"
#include "platform/testing/virtual_clock.h"
#include "tests/support/temp_dir.h"

namespace bmcsim {
namespace {

using Kind = ExternFrame::Kind;

struct Expected {
  Kind kind;
  uint8_t sequence;
  wire::Bytes bytes;
};

struct DecodeCase {
  const char* name;
  wire::Bytes input;
  std::vector<Expected> frames;
};

wire::Bytes LongMessage(size_t length) {
  wire::Bytes bytes = {0x07, 0x18, 0x01};
  bytes.resize(1 + length, 0x11);
  uint8_t sum = 0;
  for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  bytes.push_back(static_cast<uint8_t>(-sum));
  bytes.push_back(kExternMessageEnd);
  return bytes;
}

std::vector<ExternFrame> Decode(const wire::Bytes& input, bool byteByByte) {
  ExternDecoder decoder;
  std::vector<ExternFrame> frames;
  if (!byteByByte) {
    decoder.Feed(input.data(), input.size(), &frames);
    return frames;
  }
  for (uint8_t byte : input) decoder.Feed(&byte, 1, &frames);
  return frames;
}

TEST(ExternFraming, DecodesFramesWhicheverWayTheBytesArrive) {
  wire::Bytes atLimit(1 + kExternMaxMessage, 0x11);
  atLimit[0] = 0x07;
  atLimit[1] = 0x18;
  atLimit[2] = 0x01;
  const std::vector<DecodeCase> cases = {
      {"Get Device ID", {0x05, 0x18, 0x01, 0xE2, 0xA0}, {{Kind::kMessage, 0x05, {0x18, 0x01}}}},
      // Every special byte escaped, the sequence byte and the checksum (AAh) included.
      {"escapes",
       {0xAA, 0xB0, 0xAA, 0xB1, 0xAA, 0xBA, 0x18, 0xFD, 0xA0, 0x00, 0x56, 0x00, 0xAA, 0xBA, 0xA0},
       {{Kind::kMessage, 0xA0, {0xA1, 0xAA, 0x18}}, {Kind::kMessage, 0x00, {0x56, 0x00}}}},
      {"checksum error, then a good message",
       {0x05, 0x18, 0x01, 0xE3, 0xA0, 0x06, 0x18, 0x01, 0xE1, 0xA0},
       {{Kind::kBadChecksum, 0x05, {}}, {Kind::kMessage, 0x06, {0x18, 0x01}}}},
      {"empty message and command", {0xA0, 0xA1, 0xA0}, {}},
      {"too short to be a message", {0x05, 0x18, 0xE3, 0xA0}, {{Kind::kTooShort, 0, {}}}},
      {"as long as QEMU buffers", LongMessage(kExternMaxMessage), {{Kind::kMessage, 0x07, {}}}},
      {"a byte too long, answered from its start",
       LongMessage(kExternMaxMessage + 1),
       {{Kind::kTooLong, 0x07, {0x18, 0x01}}}},
      {"QEMU's greeting",
       {0xFF, 0x01, 0xA1, 0x08, 0x3F, 0xA1},
       {{Kind::kCommand, 0, {0xFF, 0x01}}, {Kind::kCommand, 0, {0x08, 0x3F}}}},
      {"a command in the middle of a message ends it",
       {0x05, 0x18, 0x04, 0xA1, 0x06, 0x18, 0x01, 0xE1, 0xA0},
       {{Kind::kCommand, 0, {0x05, 0x18, 0x04}}, {Kind::kMessage, 0x06, {0x18, 0x01}}}},
      {"an escaped command code", {0xAA, 0xB0, 0xA1}, {{Kind::kCommand, 0, {0xA0}}}},
      {"an end right after an escape",
       {0x05, 0xAA, 0xA0, 0x04, 0xAA, 0xA1, 0x06, 0x18, 0x01, 0xE1, 0xA0},
       {{Kind::kBadEscape, 0, {}}, {Kind::kBadEscape, 0, {}}, {Kind::kMessage, 0x06, {0x18, 0x01}}}},
  };
  for (const DecodeCase& c : cases) {
    for (bool byteByByte : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (byteByByte ? ", byte by byte" : ""));
      std::vector<ExternFrame> frames = Decode(c.input, byteByByte);
      ASSERT_EQ(frames.size(), c.frames.size());
      for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].kind, c.frames[i].kind) << i;
        if (frames[i].kind == Kind::kCommand || frames[i].kind == Kind::kMessage ||
            frames[i].kind == Kind::kTooLong) {
          EXPECT_EQ(frames[i].sequence, c.frames[i].sequence) << i;
          if (!c.frames[i].bytes.empty()) {
            EXPECT_EQ(frames[i].bytes, c.frames[i].bytes) << i;
          }
        }
      }
    }
  }
  // The longest message arrives whole.
  std::vector<ExternFrame> frames = Decode(LongMessage(kExternMaxMessage), false);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bytes, wire::Bytes(atLimit.begin() + 1, atLimit.end()));
}

TEST(ExternFraming, EncodesWhatQemuDecodes) {
  EXPECT_EQ(EncodeExternMessage(0x05, {0x1C, 0x01, 0x00}), (wire::Bytes{0x05, 0x1C, 0x01, 0x00, 0xDE, 0xA0}));
  EXPECT_EQ(EncodeExternMessage(0xA0, {0xA1, 0xAA, 0x18}),
            (wire::Bytes{0xAA, 0xB0, 0xAA, 0xB1, 0xAA, 0xBA, 0x18, 0xFD, 0xA0}));
  EXPECT_EQ(EncodeExternMessage(0x00, {0x56, 0x00}), (wire::Bytes{0x00, 0x56, 0x00, 0xAA, 0xBA, 0xA0}));
  EXPECT_EQ(EncodeExternCommand({kExternVersion, kExternProtocolVersion}), (wire::Bytes{0xFF, 0x01, 0xA1}));
  EXPECT_EQ(EncodeExternCommand({kExternAttention}), (wire::Bytes{0x01, 0xA1}));

  // Every byte value as sequence and in the message comes back as it went.
  wire::Bytes all;
  for (int value = 0; value < 256; ++value) all.push_back(static_cast<uint8_t>(value));
  for (int sequence = 0; sequence < 256; ++sequence) {
    wire::Bytes message(all.begin() + sequence, all.begin() + std::min(sequence + 40, 256));
    message.insert(message.begin(), {0x1C, 0x01});
    std::vector<ExternFrame> frames =
        Decode(EncodeExternMessage(static_cast<uint8_t>(sequence), message), false);
    ASSERT_EQ(frames.size(), 1u) << sequence;
    EXPECT_EQ(frames[0].kind, Kind::kMessage) << sequence;
    EXPECT_EQ(frames[0].sequence, sequence);
    EXPECT_EQ(frames[0].bytes, message) << sequence;
  }
}

// Only requests wait for the BMC and odd frames cost a bounded number of log lines, whatever
// and however much the peer sends; a request after a flood is still answered.
TEST(ExternFraming, ASessionHoldsOnlyRequestsAndBoundsItsLog) {
  testsupport::TempDir temp;
  platform::VirtualClock clock;
  BmcDirectory bmc(temp.File("bmc"));
  std::string error;
  ASSERT_TRUE(bmc.Initialize(FreshState({}, {}, clock), &error)) << error;

  constexpr size_t kFlood = 20000;
  wire::Bytes flood;
  auto repeat = [&](const wire::Bytes& frame) {
    for (size_t i = 0; i < kFlood; ++i) flood.insert(flood.end(), frame.begin(), frame.end());
  };
  repeat({0x05, 0x18, 0x01, 0xE3, 0xA0});   // bad checksum
  repeat({0x05, 0x18, 0xE3, 0xA0});         // too short
  repeat({0x05, 0xAA, 0xA0});               // end inside an escape
  repeat({0xFF, 0x02, 0xA1});               // a protocol version this BMC does not speak
  repeat({0x04, 0xA1});                     // the machine's reset, again and again
  flood.insert(flood.end(), 100000, 0x11);  // one endless command
  flood.push_back(kExternCommandEnd);
  const size_t oddFrames = 4 * kFlood;
  const wire::Bytes getDeviceId = EncodeExternMessage(0x21, {0x18, 0x01});
  auto then = [](wire::Bytes first, const wire::Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  };

  struct Answer {
    uint8_t sequence;
    uint8_t completionCode;
  };
  struct BoundCase {
    const char* name;
    wire::Bytes input;
    std::vector<Answer> answers;
    size_t maxNotes;
  };
  const std::vector<BoundCase> cases = {
      // Get Device ID with data it takes none of: the model answers for itself.
      {"as long as QEMU buffers", LongMessage(kExternMaxMessage), {{0x07, kCcRequestLength}}, 0},
      {"a byte too long", LongMessage(kExternMaxMessage + 1), {{0x07, kCcRequestDataTruncated}}, 0},
      {"a frame far too long, then a request",
       then(LongMessage(100000), getDeviceId),
       {{0x07, kCcRequestDataTruncated}, {0x21, kCcOk}},
       0},
      // The first lines one by one, one per thousand after them, the rest's count at the end.
      {"a flood of odd frames, then a request",
       then(flood, getDeviceId),
       {{0x21, kCcOk}},
       10 + oddFrames / 1000 + 1},
  };
  for (const BoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> notes;
    ExternSession session(bmc, clock, [&](const std::string& line) { notes.push_back(line); });
    // In the socket's pieces.
    for (size_t at = 0; at < c.input.size(); at += 4096) {
      session.Received(c.input.data() + at, std::min<size_t>(4096, c.input.size() - at));
    }
    std::vector<ExternFrame> answers;
    ExternDecoder decoder;
    size_t handled = 0;
    for (; session.RequestWaiting() && handled < c.input.size(); ++handled) {
      wire::Bytes out = session.HandleNext();
      decoder.Feed(out.data(), out.size(), &answers);
    }
    session.End();
    EXPECT_EQ(handled, c.answers.size()) << "something other than requests waited";
    ASSERT_EQ(answers.size(), c.answers.size());
    for (size_t i = 0; i < answers.size(); ++i) {
      EXPECT_EQ(answers[i].sequence, c.answers[i].sequence) << i;
      ASSERT_GE(answers[i].bytes.size(), 3u) << i;
      EXPECT_EQ(answers[i].bytes[2], c.answers[i].completionCode) << i;
    }
    EXPECT_LE(notes.size(), c.maxNotes);
    if (c.maxNotes > 0) {
      EXPECT_EQ(notes.front(), "dropped a message with a bad checksum (sequence 0x05)");
      EXPECT_NE(notes.back().find("more odd frames on this connection"), std::string::npos) << notes.back();
    }
  }
}

}  // namespace
}  // namespace bmcsim
