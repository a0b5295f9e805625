#include "transport/ipmi_exchange.h"

#include <cstring>

namespace transport {

ExchangeStatus IpmiExchange(IpmiTransport& transport, const uint8_t* request, uint8_t requestLength,
                            uint8_t* response, size_t responseCapacity, uint8_t* responseLength) {
  // Whatever an earlier answer left in the buffer must not pass for part of this one.
  std::memset(response, 0, responseCapacity);
  IpmiDriver* driver = transport.UseWmiPath ? transport.wmiDriver : transport.vendorDriver;
  if (driver == nullptr) return kDriverUnreachable;
  return driver->Exchange(request, requestLength, response, responseCapacity, responseLength);
}

bool HoldMaintenanceMode(IpmiTransport& transport, bool on) {
  IpmiDriver* driver = transport.UseWmiPath ? transport.wmiDriver : transport.vendorDriver;
  return driver == nullptr || driver->HoldMaintenanceMode(on);
}

bool ReopenAfterTeardown(IpmiTransport& transport) {
  IpmiDriver* driver = transport.UseWmiPath ? transport.wmiDriver : transport.vendorDriver;
  return driver != nullptr && driver->ReopenAfterTeardown();
}

}  // namespace transport
