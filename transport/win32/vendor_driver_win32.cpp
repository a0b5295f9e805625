#include <windows.h>

#include <cstring>

#include "transport/vendor_driver.h"

namespace transport {
namespace {

constexpr DWORD kIpmiIoctl = 0x810C2004;  // device type 0x810C, function 0x801, buffered, any access

class IpmiDevDriver : public IpmiDriver {
 public:
  ExchangeStatus Exchange(const IpmiRequest& request, IpmiResponse* response) override {
    HANDLE h = CreateFileA("\\\\.\\IPMIDEV", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kDriverUnreachable;
    // The driver always gets 127 bytes.
    uint8_t out[kDriverResponseCapacity] = {};
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(h, kIpmiIoctl, const_cast<uint8_t*>(request.bytes), request.length, out,
                              kDriverResponseCapacity, &returned, nullptr);
    CloseHandle(h);
    // A failed call returned nothing: its byte count would only show the buffer's zeros.
    if (!ok) {
      response->length = 0;
      return kTransferFailed;
    }
    size_t count = returned < kDriverResponseCapacity ? returned : kDriverResponseCapacity;
    std::memcpy(response->bytes, out, count);
    response->length = static_cast<uint8_t>(count);
    return kExchangeOk;
  }
};

}  // namespace

std::unique_ptr<IpmiDriver> MakeVendorDriver() {
  return std::make_unique<IpmiDevDriver>();
}

}  // namespace transport
