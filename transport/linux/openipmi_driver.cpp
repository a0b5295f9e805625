#include "transport/linux/openipmi_driver.h"

#include <linux/ipmi.h>

#include <cerrno>
#include <cstring>

namespace transport {

const char* const kOpenIpmiDevices[3] = {"/dev/ipmi0", "/dev/ipmi/0", "/dev/ipmidev/0"};

namespace {

// Waits for a readable device until the deadline, restarting after signals with the time
// that is left. False on time-out or error.
bool WaitReadable(OpenIpmiSystem& system, platform::Clock& clock, int fd, uint64_t deadline) {
  for (;;) {
    uint64_t now = clock.MonotonicMs();
    if (now >= deadline) return false;
    int rc = system.Poll(fd, static_cast<int>(deadline - now));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace

OpenIpmiDriver::~OpenIpmiDriver() {
  CloseDevice();
}

int OpenIpmiDriver::Device() {
  for (size_t i = 0; fd_ < 0 && i < sizeof kOpenIpmiDevices / sizeof kOpenIpmiDevices[0]; ++i)
    fd_ = system_.Open(kOpenIpmiDevices[i]);
  return fd_;
}

void OpenIpmiDriver::CloseDevice() {
  if (fd_ >= 0) system_.Close(fd_);
  fd_ = -1;
}

bool OpenIpmiDriver::HoldMaintenanceMode(bool on) {
  const int fd = Device();
  if (fd < 0) return false;
  if (system_.SetMaintenanceMode(fd, on ? IPMI_MAINTENANCE_MODE_ON : IPMI_MAINTENANCE_MODE_AUTO) == 0)
    return true;
  CloseDevice();
  return false;
}

ExchangeStatus OpenIpmiDriver::Exchange(const IpmiRequest& request, IpmiResponse* response) {
  const uint8_t requestLength = request.length;
  if (requestLength < 2) return kDriverUnreachable;
  const int fd = Device();
  if (fd < 0) return kDriverUnreachable;

  ipmi_system_interface_addr bmc{};
  bmc.addr_type = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
  bmc.channel = IPMI_BMC_CHANNEL;
  bmc.lun = 0;
  uint8_t data[kIpmiBufferSize];
  std::memcpy(data, request.bytes + 2, requestLength - 2u);
  ipmi_req req{};
  req.addr = reinterpret_cast<unsigned char*>(&bmc);
  req.addr_len = sizeof bmc;
  req.msgid = nextMsgId_++;
  req.msg.netfn = static_cast<unsigned char>(request.bytes[0] >> 2);
  req.msg.cmd = request.bytes[1];
  req.msg.data = data;
  req.msg.data_len = static_cast<unsigned short>(requestLength - 2u);

  ExchangeStatus status = kTransferFailed;
  if (system_.SendCommand(fd, &req) == 0) {
    const uint64_t deadline = clock_.MonotonicMs() + kOpenIpmiResponseTimeoutMs;
    while (WaitReadable(system_, clock_, fd, deadline)) {
      ipmi_addr from{};
      uint8_t rspData[IPMI_MAX_MSG_LENGTH] = {};
      ipmi_recv recv{};
      recv.addr = reinterpret_cast<unsigned char*>(&from);
      recv.addr_len = sizeof from;
      recv.msg.data = rspData;
      recv.msg.data_len = sizeof rspData;
      // EMSGSIZE means the data was truncated to our buffer, which still holds a response.
      if (system_.ReceiveTrunc(fd, &recv) != 0 && errno != EMSGSIZE) break;
      // Events or answers to other requests on the same device are not ours.
      if (recv.recv_type != IPMI_RESPONSE_RECV_TYPE || recv.msgid != req.msgid) continue;

      uint8_t out[kDriverResponseCapacity];
      size_t count = 0;
      out[count++] = static_cast<uint8_t>(recv.msg.netfn << 2);
      out[count++] = recv.msg.cmd;
      size_t dataLen = recv.msg.data_len < sizeof rspData ? recv.msg.data_len : sizeof rspData;
      for (size_t i = 0; i < dataLen && count < kDriverResponseCapacity; ++i) out[count++] = rspData[i];
      std::memcpy(response->bytes, out, count);
      response->length = static_cast<uint8_t>(count);
      status = kExchangeOk;
      break;
    }
  }
  if (status != kExchangeOk) CloseDevice();
  return status;
}

}  // namespace transport
