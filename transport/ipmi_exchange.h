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

// Sends one request over the selected path; no pause, no trace, no retry on the vendor path.
// The response is cleared first, so nothing of an earlier answer can pass for part of this
// one.
ExchangeStatus IpmiExchange(IpmiTransport& transport, const IpmiRequest& request, IpmiResponse* response);

// The maintenance mode of the path in use (see IpmiDriver::HoldMaintenanceMode).
bool HoldMaintenanceMode(IpmiTransport& transport, bool on);

// Reopens the path in use after a teardown (see IpmiDriver::ReopenAfterTeardown).
bool ReopenAfterTeardown(IpmiTransport& transport);

}  // namespace transport
