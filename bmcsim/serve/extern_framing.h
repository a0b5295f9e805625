#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire/byte_io.h"

namespace bmcsim {

// QEMU's external BMC protocol (its ipmi-bmc-extern device; OpenIPMI's "VM" connection). A
// message is a sequence byte, the IPMI message (network function/LUN, command, [completion
// code,] data) and a 2's-complement checksum over all of them, ended by A0h; a control
// command is its code and parameters, ended by A1h. A0h, A1h and AAh inside either are sent
// as AAh followed by the byte with bit 4 set.
constexpr uint8_t kExternMessageEnd = 0xA0;
constexpr uint8_t kExternCommandEnd = 0xA1;
constexpr uint8_t kExternEscape = 0xAA;
// The longest IPMI message either side buffers (QEMU's MAX_IPMI_MSG_SIZE), without the
// sequence byte and the checksum.
constexpr size_t kExternMaxMessage = 300;

// Control commands. QEMU sends VERSION (parameter: the protocol version, 1) and CAPABILITIES
// (parameter: the bits below) when it connects, and RESET when the machine resets; the BMC
// may send the others, QEMU answers none of them and neither does the BMC.
constexpr uint8_t kExternProtocolVersion = 1;
enum ExternCommand : uint8_t {
  kExternNoAttention = 0x00,
  kExternAttention = 0x01,
  kExternAttentionIrq = 0x02,
  kExternPowerOff = 0x03,
  kExternReset = 0x04,
  kExternEnableIrq = 0x05,
  kExternDisableIrq = 0x06,
  kExternSendNmi = 0x07,
  kExternCapabilities = 0x08,
  kExternGracefulShutdown = 0x09,
  kExternVersion = 0xFF,
};

struct ExternFrame {
  enum class Kind {
    kMessage,      // bytes: the IPMI message, without sequence byte and checksum
    kCommand,      // bytes: the control command's code, then its parameters
    kBadChecksum,  // dropped, as QEMU drops one: the sender's time-out answers for it
    kTooShort,     // a message without room for sequence, network function, command, checksum
    kTooLong,      // longer than kExternMaxMessage; bytes: its first two (to answer it)
    kBadEscape,    // an escape right before an end character
  };
  Kind kind = Kind::kMessage;
  uint8_t sequence = 0;  // messages (and kTooLong) only
  wire::Bytes bytes;
};

// Splits a received byte stream into frames; bytes may arrive in any pieces. An end character
// with nothing before it (an empty message or command) yields no frame.
class ExternDecoder {
 public:
  void Feed(const uint8_t* data, size_t size, std::vector<ExternFrame>* frames);
  // Forgets a frame under way (a new connection starts clean).
  void Reset();

 private:
  void End(bool command, std::vector<ExternFrame>* frames);

  wire::Bytes buffer_;  // unescaped, with sequence byte and checksum
  bool escape_ = false;
  bool tooLong_ = false;
};

// A message on the wire: sequence, IPMI message, checksum, A0h.
wire::Bytes EncodeExternMessage(uint8_t sequence, const wire::Bytes& message);
// A control command on the wire: code, parameters, A1h.
wire::Bytes EncodeExternCommand(const wire::Bytes& command);

}  // namespace bmcsim
