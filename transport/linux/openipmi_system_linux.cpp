#include <fcntl.h>
#include <linux/ipmi.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/clock.h"
#include "transport/linux/openipmi_driver.h"
#include "transport/vendor_driver.h"

namespace transport {
namespace {

class KernelSystem : public OpenIpmiSystem {
 public:
  int Open(const char* path) override { return open(path, O_RDWR | O_CLOEXEC); }
  int SendCommand(int fd, ipmi_req* request) override { return ioctl(fd, IPMICTL_SEND_COMMAND, request); }
  int Poll(int fd, int timeoutMs) override {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs);
  }
  int ReceiveTrunc(int fd, ipmi_recv* received) override {
    return ioctl(fd, IPMICTL_RECEIVE_MSG_TRUNC, received);
  }
  int SetMaintenanceMode(int fd, int mode) override { return ioctl(fd, IPMICTL_SET_MAINTENANCE_MODE_CMD, &mode); }
  void Close(int fd) override { close(fd); }
};

}  // namespace

OpenIpmiSystem& KernelOpenIpmiSystem() {
  static KernelSystem system;
  return system;
}

std::unique_ptr<IpmiDriver> MakeVendorDriver() {
  return std::make_unique<OpenIpmiDriver>(KernelOpenIpmiSystem(), platform::SystemClock());
}

}  // namespace transport
