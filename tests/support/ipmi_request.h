#pragma once
#include <algorithm>
#include <cstring>

#include "transport/ipmi_message.h"
#include "wire/byte_io.h"

namespace testsupport {

// A request in wire form from test bytes (cut at the buffer's size).
inline transport::IpmiRequest RequestOf(const wire::Bytes& bytes, transport::RequestKind kind = {}) {
  transport::IpmiRequest request;
  request.length = static_cast<uint8_t>(std::min(bytes.size(), size_t{255}));
  if (request.length) std::memcpy(request.bytes, bytes.data(), request.length);
  request.kind = kind;
  return request;
}

inline wire::Bytes BytesOf(const transport::IpmiRequest& request) {
  return wire::Bytes(request.bytes, request.bytes + request.length);
}

inline wire::Bytes BytesOf(const transport::IpmiResponse& response) {
  return wire::Bytes(response.bytes, response.bytes + response.length);
}

}  // namespace testsupport
