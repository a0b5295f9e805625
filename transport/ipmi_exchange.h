#pragma once
#include <cstddef>
#include <cstdint>

#include "transport/ipmi_driver.h"

namespace transport {

// The transport of one run: which path carries the requests. The program picks the path
// once, before the first request.
struct IpmiTransport {
  IpmiDriver* vendorDriver = nullptr;
  IpmiDriver* wmiDriver = nullptr;
  bool UseWmiPath = false;
};

// Sends one request over the selected path; no pause, no trace, no retry on the vendor
// path. The response buffer is cleared first; a response longer than responseCapacity is cut
// there.
ExchangeStatus IpmiExchange(IpmiTransport& transport, const uint8_t* request, uint8_t requestLength,
                            uint8_t* response, size_t responseCapacity, uint8_t* responseLength);

// The maintenance mode of the path in use (see IpmiDriver::HoldMaintenanceMode).
bool HoldMaintenanceMode(IpmiTransport& transport, bool on);

// Reopens the path in use once after a teardown (see IpmiDriver::ReopenAfterTeardown).
bool ReopenAfterTeardown(IpmiTransport& transport);

inline ExchangeStatus IpmiExchange(IpmiTransport& transport, const IpmiRequest& request,
                                   IpmiResponse* response) {
  return IpmiExchange(transport, request.bytes, request.length, response->bytes, sizeof response->bytes,
                      &response->length);
}

}  // namespace transport
