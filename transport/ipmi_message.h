#pragma once
#include <cstddef>
#include <cstdint>

namespace transport {

// Result of one IpmiExchange. A non-zero completion code is not a transport failure: the
// exchange still returns kExchangeOk and the command layer decodes response byte 2.
enum ExchangeStatus : int {
  kExchangeOk = 0,
  kDriverUnreachable = 9,  // device cannot be opened, or the request cannot be prepared
  kTransferFailed = 10,    // the driver call failed
};

// Wire form of a request: byte 0 network function x 4 (LUN 0), byte 1 command, then data.
// Wire form of a response: byte 0 network function/LUN, byte 1 command, byte 2 completion
// code, then data. Lengths count every byte and fit in 8 bits.
constexpr size_t kIpmiBufferSize = 256;
// The vendor driver is always offered this many response bytes.
constexpr size_t kDriverResponseCapacity = 127;

// How the Microsoft driver's code-keyed retry policy treats a request once it was re-sent
// after a 0xFF. The command layer that builds the request says so; nothing below it reads the
// request's bytes to find out.
struct RequestKind {
  // A 0xC5 after such a re-send means the first sending got through (the last chunk of a
  // partial add, the start of an erase).
  bool forgivable = false;
  // A 0xCE after such a re-send may be the lock the first sending took (taking the SDR update
  // lock).
  bool lockable = false;
};

struct IpmiRequest {
  uint8_t bytes[kIpmiBufferSize] = {};
  uint8_t length = 0;
  RequestKind kind;
};

struct IpmiResponse {
  uint8_t bytes[kIpmiBufferSize] = {};
  uint8_t length = 0;
  // Byte 0 is the request's own network-function byte, as the Microsoft driver's path under
  // the whole-request policy builds it; otherwise it is the answering function's (request + 4).
  bool netFnAsRequested = false;
};

}  // namespace transport
