// Exchanges per second through the kernel's OpenIPMI driver, the way the products talk to it:
// Get Device ID sent COUNT times, on one open device for the run, or (--reopen) with the device
// opened and closed for every request as the products once did. Run where /dev/ipmi0 exists
// (the VM test runs it against both of its BMCs).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "transport/linux/openipmi_driver.h"

int main(int argc, char** argv) {
  long count = 500;
  bool reopen = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reopen") == 0)
      reopen = true;
    else
      count = std::atol(argv[i]);
  }
  if (count <= 0) {
    std::fprintf(stderr, "usage: kernel_driver_bench [--reopen] [COUNT]\n");
    return 2;
  }
  platform::Clock& clock = platform::SystemClock();
  transport::IpmiRequest request;
  request.bytes[0] = 0x06 << 2;  // App, Get Device ID
  request.bytes[1] = 0x01;
  request.length = 2;
  std::unique_ptr<transport::OpenIpmiDriver> driver;
  long failed = 0;
  const uint64_t start = clock.MonotonicMs();
  for (long i = 0; i < count; ++i) {
    if (!driver || reopen)
      driver = std::make_unique<transport::OpenIpmiDriver>(transport::KernelOpenIpmiSystem(), clock);
    transport::IpmiResponse response;
    if (driver->Exchange(request, &response) != transport::kExchangeOk || response.length < 3 ||
        response.bytes[2] != 0)
      ++failed;
  }
  driver.reset();
  const uint64_t ms = clock.MonotonicMs() - start;
  std::printf("%s: %ld exchanges in %llu ms, %.0f per second, %ld failed\n",
              reopen ? "device opened per request" : "one device for the run", count,
              static_cast<unsigned long long>(ms), ms ? count * 1000.0 / static_cast<double>(ms) : 0.0,
              failed);
  return failed ? 1 : 0;
}
