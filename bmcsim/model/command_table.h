#pragma once
#include <cstdint>
#include <map>

#include "bmcsim/model/bmc_state.h"
#include "platform/clock.h"
#include "wire/byte_io.h"

namespace bmcsim {

// Network functions (not request byte 0: that is the network function times 4).
constexpr uint8_t kNetFnApp = 0x06;
constexpr uint8_t kNetFnFirmware = 0x08;
constexpr uint8_t kNetFnStorage = 0x0A;
constexpr uint8_t kNetFnOem = 0x3E;

// Completion codes the model answers.
constexpr uint8_t kCcOk = 0x00;
constexpr uint8_t kCcLengthMismatch = 0x80;  // Partial Add: bytes received disagree with the body length
constexpr uint8_t kCcNotForChannel = 0x82;   // channel access: the channel has no such setting
constexpr uint8_t kCcAccessModeNotSupported = 0x83;
constexpr uint8_t kCcBusy = 0xC0;
constexpr uint8_t kCcInvalidCommand = 0xC1;
constexpr uint8_t kCcOutOfSpace = 0xC4;
constexpr uint8_t kCcReservationCancelled = 0xC5;
constexpr uint8_t kCcRequestDataTruncated = 0xC6;  // longer than the interface takes
constexpr uint8_t kCcRequestLength = 0xC7;
constexpr uint8_t kCcOutOfRange = 0xC9;
constexpr uint8_t kCcCannotReturnBytes = 0xCA;
constexpr uint8_t kCcNotPresent = 0xCB;
constexpr uint8_t kCcInvalidField = 0xCC;
constexpr uint8_t kCcNotInPresentState = 0xD5;

// A handler's answer: completion code and the data that follows it.
struct Reply {
  uint8_t completionCode = kCcOk;
  wire::Bytes data;
  static Reply Error(uint8_t code) { return Reply{code, {}}; }
  static Reply Ok(wire::Bytes data = {}) { return Reply{kCcOk, std::move(data)}; }
};

// What a handler may touch: the state, the clock for timestamps and erase times, and the list
// of flash changes, which every change of flash cells joins.
struct CommandContext {
  BmcState& state;
  platform::Clock& clock;
  std::vector<FlashChange>& flashChanges;
  uint32_t Stamp() { return NextStamp(state, clock); }
};

// A handler reads the request data through the bounds-checked reader.
using CommandHandler = Reply (*)(CommandContext& context, wire::ByteReader& request);

class CommandTable {
 public:
  void Register(uint8_t netFn, uint8_t command, CommandHandler handler);
  // nullptr when nothing is registered for the pair.
  CommandHandler Find(uint8_t netFn, uint8_t command) const;

 private:
  std::map<uint16_t, CommandHandler> handlers_;
};

}  // namespace bmcsim
