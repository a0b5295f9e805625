#include "transport/ipmi_exchange.h"

namespace transport {

ExchangeStatus IpmiExchange(IpmiTransport& transport, const uint8_t* request, uint8_t requestLength,
                            uint8_t* response, size_t responseCapacity, uint8_t* responseLength) {
  IpmiDriver* driver = transport.UseWmiPath ? transport.wmiDriver : transport.vendorDriver;
  if (driver == nullptr) return kDriverUnreachable;
  return driver->Exchange(request, requestLength, response, responseCapacity, responseLength);
}

}  // namespace transport
