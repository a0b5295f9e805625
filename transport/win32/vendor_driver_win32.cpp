#include <windows.h>

#include <cstring>

#include "transport/vendor_driver.h"

namespace transport {
namespace {

constexpr DWORD kIpmiIoctl = 0x810C2004;  // device type 0x810C, function 0x801, buffered, any access

class IpmiDevDriver : public IpmiDriver {
 public:
  ExchangeStatus Exchange(const uint8_t* request, uint8_t requestLength, uint8_t* response,
                          size_t responseCapacity, uint8_t* responseLength) override {
    HANDLE h = CreateFileA("\\\\.\\IPMIDEV", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kDriverUnreachable;
    // The driver always gets 127 bytes; a smaller caller buffer receives what fits.
    uint8_t out[kDriverResponseCapacity] = {};
    DWORD returned = kDriverResponseCapacity;
    BOOL ok = DeviceIoControl(h, kIpmiIoctl, const_cast<uint8_t*>(request), requestLength, out,
                              kDriverResponseCapacity, &returned, nullptr);
    CloseHandle(h);
    size_t count = returned < kDriverResponseCapacity ? returned : kDriverResponseCapacity;
    if (count > responseCapacity) count = responseCapacity;
    std::memcpy(response, out, count);
    *responseLength = static_cast<uint8_t>(count);
    return ok ? kExchangeOk : kTransferFailed;
  }
};

}  // namespace

std::unique_ptr<IpmiDriver> MakeVendorDriver() {
  return std::make_unique<IpmiDevDriver>();
}

}  // namespace transport
