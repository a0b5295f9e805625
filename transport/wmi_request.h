#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "transport/ipmi_message.h"
#include "wire/byte_io.h"

namespace transport {

// Three values the Microsoft driver takes with every request; their meaning is the driver's.
struct DriverWaits {
  int32_t cWait = 0;
  int32_t iWait = 0;
  int32_t bWait = 0;
};

// The in-parameters of RequestResponseEx, in the order they are put.
struct WmiInParameters {
  uint8_t networkFunction = 0;
  uint8_t lun = 0;
  uint8_t responderAddress = 0x20;
  uint8_t command = 0;
  int32_t requestDataSize = 0;
  int32_t dataSize = 0;
  // The request data, zero-padded to a multiple of 4, then 1, CW, IW, BW and 30 as 32-bit
  // little-endian values.
  wire::Bytes data;
};

// False when the request lacks its two header bytes.
bool BuildInParameters(const uint8_t* request, uint8_t length, const DriverWaits& waits,
                       WmiInParameters* out);

// One call's out-parameters in plain form.
struct WmiAnswer {
  // The low byte of CompletionCode; none when it is missing or not an integer.
  std::optional<uint8_t> completionCode;
  // The elements of ResponseData (the completion code, then the response data), in order;
  // none when it is missing or not a one-dimensional array of bytes.
  std::optional<wire::Bytes> responseData;
};

enum class ResponseNetFn {
  kAnswering,    // the response network function: request byte 0 + 4
  kAsRequested,  // request byte 0 unchanged
};

// Builds the response in the vendor driver's wire form: network function byte, command, then
// the elements of ResponseData with the completion code in place of the first. False (and
// nothing written) when ResponseData is not an array of bytes or the response would not fit
// in capacity bytes or an 8-bit length.
bool BuildWmiResponse(const uint8_t* request, uint8_t requestLength, ResponseNetFn netFn,
                      uint8_t completionCode, const std::optional<wire::Bytes>& responseData,
                      uint8_t* response, size_t capacity, uint8_t* responseLength);

// The object path of the Microsoft_IPMI instance named instanceName; the key's backslashes are
// escaped as WMI object paths require, empty pieces between them dropped.
std::wstring IpmiInstancePath(const std::wstring& instanceName);

}  // namespace transport
