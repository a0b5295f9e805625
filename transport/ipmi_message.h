#pragma once
#include <cstddef>
#include <cstdint>

namespace transport {

// Result of one IpmiExchange. A non-zero completion code is not a transport failure: the
// exchange still returns kExchangeOk and the caller inspects response byte 2.
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

struct IpmiRequest {
  uint8_t bytes[kIpmiBufferSize] = {};
  uint8_t length = 0;
};

struct IpmiResponse {
  uint8_t bytes[kIpmiBufferSize] = {};
  uint8_t length = 0;
};

// Request byte 0 (network function x 4) of the network functions the programs use.
constexpr uint8_t kNetFnApp = 0x18;
constexpr uint8_t kNetFnFirmware = 0x20;
constexpr uint8_t kNetFnStorage = 0x28;
constexpr uint8_t kNetFnOem = 0xF8;

}  // namespace transport
