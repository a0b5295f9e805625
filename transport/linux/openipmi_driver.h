#pragma once
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "transport/ipmi_driver.h"

struct ipmi_req;
struct ipmi_recv;

namespace transport {

// The system calls the OpenIPMI path makes, so tests can stand in for the kernel driver.
// Each returns what the system call returns (-1 with errno on failure).
class OpenIpmiSystem {
 public:
  virtual ~OpenIpmiSystem() = default;
  virtual int Open(const char* path) = 0;
  virtual int SendCommand(int fd, ipmi_req* request) = 0;
  virtual int Poll(int fd, int timeoutMs) = 0;  // >0 readable, 0 timed out
  virtual int ReceiveTrunc(int fd, ipmi_recv* received) = 0;
  virtual int SetMaintenanceMode(int fd, int mode) = 0;
  virtual void Close(int fd) = 0;
};

// Device nodes tried in order; distributions name the OpenIPMI device differently.
extern const char* const kOpenIpmiDevices[3];
// How long one request waits for the BMC's answer before it counts as a failed transfer.
constexpr int kOpenIpmiResponseTimeoutMs = 15000;

// The vendor driver path on Linux: send, wait and receive on one open device for the whole
// run, the response rebuilt in the Windows driver's byte form and cut at 127 bytes. A failed
// exchange closes the device, so the next request opens it afresh and nothing the kernel still
// holds for the failed one (a late answer) can be taken for a later answer.
class OpenIpmiDriver : public IpmiDriver {
 public:
  OpenIpmiDriver(OpenIpmiSystem& system, platform::Clock& clock) : system_(system), clock_(clock) {}
  ~OpenIpmiDriver() override;
  OpenIpmiDriver(const OpenIpmiDriver&) = delete;
  OpenIpmiDriver& operator=(const OpenIpmiDriver&) = delete;
  ExchangeStatus Exchange(const IpmiRequest& request, IpmiResponse* response) override;
  // The kernel driver's maintenance mode: on while the flash is written (the driver then sends
  // nothing of its own to the BMC), automatic afterwards. The mode belongs to the interface,
  // not to the open device, so it outlasts the device being closed.
  bool HoldMaintenanceMode(bool on) override;

 private:
  // The open device, opening it when it is not; -1 when no device node opens.
  int Device();
  void CloseDevice();

  OpenIpmiSystem& system_;
  platform::Clock& clock_;
  long nextMsgId_ = 1;
  int fd_ = -1;
};

OpenIpmiSystem& KernelOpenIpmiSystem();

}  // namespace transport
