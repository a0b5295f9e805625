#include "transport/ipmi_exchange.h"

namespace transport {
namespace {

IpmiDriver* PathInUse(const IpmiTransport& transport) {
  return transport.UseWmiPath ? transport.wmiDriver : transport.vendorDriver;
}

}  // namespace

ExchangeStatus IpmiExchange(IpmiTransport& transport, const IpmiRequest& request, IpmiResponse* response) {
  *response = IpmiResponse{};
  IpmiDriver* driver = PathInUse(transport);
  if (driver == nullptr) return kDriverUnreachable;
  return driver->Exchange(request, response);
}

bool HoldMaintenanceMode(IpmiTransport& transport, bool on) {
  IpmiDriver* driver = PathInUse(transport);
  return driver == nullptr || driver->HoldMaintenanceMode(on);
}

bool ReopenAfterTeardown(IpmiTransport& transport) {
  IpmiDriver* driver = PathInUse(transport);
  return driver != nullptr && driver->ReopenAfterTeardown();
}

}  // namespace transport
