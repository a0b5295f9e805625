#include "transport/linux/openipmi_driver.h"

#include <linux/ipmi.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <string>
#include <vector>

#include "platform/testing/virtual_clock.h"
#include "tests/support/ipmi_request.h"

namespace transport {
namespace {

struct FakeAnswer {
  int recvType = IPMI_RESPONSE_RECV_TYPE;
  long msgIdDelta = 0;  // added to the request's msgid
  uint8_t netfn = 0x07;
  uint8_t cmd = 0x01;
  std::vector<uint8_t> data;
  int rc = 0;
  int err = 0;
};

// Stands in for the kernel: records what the driver sends, answers as scripted.
class FakeKernel : public OpenIpmiSystem {
 public:
  std::vector<std::string> openable = {"/dev/ipmi0"};
  std::vector<std::string> opened;
  int closes = 0;
  int sendRc = 0;
  std::deque<int> pollResults;  // -2 stands for "fail with EINTR"
  std::deque<FakeAnswer> answers;

  // What was sent.
  int addrType = -1;
  int channel = -1;
  uint8_t netfn = 0, cmd = 0;
  std::vector<uint8_t> data;
  long msgid = 0;

  int Open(const char* path) override {
    opened.push_back(path);
    for (const auto& p : openable)
      if (p == path) return 7;
    errno = ENOENT;
    return -1;
  }
  int SendCommand(int fd, ipmi_req* req) override {
    EXPECT_EQ(fd, 7);
    auto* addr = reinterpret_cast<ipmi_system_interface_addr*>(req->addr);
    addrType = addr->addr_type;
    channel = addr->channel;
    netfn = req->msg.netfn;
    cmd = req->msg.cmd;
    data.assign(req->msg.data, req->msg.data + req->msg.data_len);
    msgid = req->msgid;
    if (sendRc != 0) errno = EIO;
    return sendRc;
  }
  int Poll(int, int timeoutMs) override {
    EXPECT_GT(timeoutMs, 0);
    if (pollResults.empty()) return 1;
    int r = pollResults.front();
    pollResults.pop_front();
    if (r == -2) {
      errno = EINTR;
      return -1;
    }
    if (r < 0) errno = EIO;
    return r;
  }
  std::vector<int> maintenanceModes;
  int maintenanceRc = 0;
  int SetMaintenanceMode(int fd, int mode) override {
    EXPECT_EQ(fd, 7);
    maintenanceModes.push_back(mode);
    return maintenanceRc;
  }
  int ReceiveTrunc(int, ipmi_recv* recv) override {
    if (answers.empty()) {
      errno = EAGAIN;
      return -1;
    }
    FakeAnswer a = answers.front();
    answers.pop_front();
    recv->recv_type = a.recvType;
    recv->msgid = msgid + a.msgIdDelta;
    recv->msg.netfn = a.netfn;
    recv->msg.cmd = a.cmd;
    size_t n = a.data.size() < recv->msg.data_len ? a.data.size() : recv->msg.data_len;
    std::copy(a.data.begin(), a.data.begin() + static_cast<long>(n), recv->msg.data);
    recv->msg.data_len = static_cast<unsigned short>(n);
    if (a.rc != 0) errno = a.err;
    return a.rc;
  }
  void Close(int) override { ++closes; }
};

class OpenIpmiDriverTest : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  FakeKernel kernel;
  OpenIpmiDriver driver{kernel, clock};
  IpmiResponse response;
  const uint8_t* rsp = response.bytes;
  uint8_t& rspLen = response.length;

  ExchangeStatus Send(const std::vector<uint8_t>& req) {
    rspLen = 0xAA;
    return driver.Exchange(testsupport::RequestOf(req), &response);
  }
};

TEST_F(OpenIpmiDriverTest, GetDeviceIdGoesToTheBmcAndComesBackInDriverForm) {
  kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 0, 0x07, 0x01, {0x00, 0x20, 0x01, 0x02, 0x30}, 0, 0});
  ASSERT_EQ(Send({0x18, 0x01}), kExchangeOk);
  EXPECT_EQ(kernel.addrType, IPMI_SYSTEM_INTERFACE_ADDR_TYPE);
  EXPECT_EQ(kernel.channel, IPMI_BMC_CHANNEL);
  EXPECT_EQ(kernel.netfn, 0x06);
  EXPECT_EQ(kernel.cmd, 0x01);
  EXPECT_TRUE(kernel.data.empty());  // a two-byte request carries no data
  ASSERT_EQ(rspLen, 7);
  EXPECT_EQ(std::vector<uint8_t>(rsp, rsp + 7),
            (std::vector<uint8_t>{0x1C, 0x01, 0x00, 0x20, 0x01, 0x02, 0x30}));
}

TEST_F(OpenIpmiDriverTest, RequestDataIsPassedThrough) {
  kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 0, 0x3F, 0x13, {0x00, 0x05, 0x00}, 0, 0});
  ASSERT_EQ(Send({0xF8, 0x13, 0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0xAB}), kExchangeOk);
  EXPECT_EQ(kernel.netfn, 0x3E);
  EXPECT_EQ(kernel.data, (std::vector<uint8_t>{0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0xAB}));
  EXPECT_EQ(rsp[0], 0xFC);
}

TEST_F(OpenIpmiDriverTest, LongResponsesAreCutAt127Bytes) {
  std::vector<uint8_t> big(200, 0x5A);
  kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 0, 0x0B, 0x23, big, -1, EMSGSIZE});
  ASSERT_EQ(Send({0x28, 0x23}), kExchangeOk);
  EXPECT_EQ(rspLen, 127);
  EXPECT_EQ(rsp[127], 0x00);  // nothing written past the driver's 127 bytes
}

TEST_F(OpenIpmiDriverTest, NoDeviceGivesStatus9AndLeavesTheLengthAlone) {
  kernel.openable.clear();
  EXPECT_EQ(Send({0x18, 0x01}), kDriverUnreachable);
  EXPECT_EQ(rspLen, 0xAA);
  EXPECT_EQ(kernel.opened, (std::vector<std::string>{"/dev/ipmi0", "/dev/ipmi/0", "/dev/ipmidev/0"}));
  EXPECT_EQ(kernel.closes, 0);
}

TEST_F(OpenIpmiDriverTest, LaterDeviceNamesAreTried) {
  kernel.openable = {"/dev/ipmidev/0"};
  kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 0, 0x07, 0x01, {0x00}, 0, 0});
  EXPECT_EQ(Send({0x18, 0x01}), kExchangeOk);
  EXPECT_EQ(kernel.opened.size(), 3u);
}

TEST_F(OpenIpmiDriverTest, EachFailureAfterOpenGivesStatus10AndClosesTheDevice) {
  // The next request opens the device afresh: whatever the kernel still holds for the failed
  // one goes with the old handle.
  struct Case {
    const char* what;
    int sendRc;
    std::deque<int> polls;
    bool answer;
  } cases[] = {
      {"send fails", -1, {}, true},
      {"wait times out", 0, {0}, true},
      {"wait fails", 0, {-1}, true},
      {"receive fails", 0, {1}, false},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    OpenIpmiDriver driver(kernel, clock);
    kernel.sendRc = c.sendRc;
    kernel.pollResults = c.polls;
    if (c.answer) kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 0, 0x07, 0x01, {0x00}, 0, 0});
    IpmiResponse out;
    EXPECT_EQ(driver.Exchange(testsupport::RequestOf({0x18, 0x01}), &out), kTransferFailed) << c.what;
    EXPECT_EQ(kernel.closes, 1) << c.what;
  }
}

TEST_F(OpenIpmiDriverTest, InterruptedWaitIsResumedAndForeignMessagesSkipped) {
  kernel.pollResults = {-2, 1, 1};
  kernel.answers.push_back({IPMI_ASYNC_EVENT_RECV_TYPE, 0, 0x07, 0x01, {0x99}, 0, 0});
  kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 5, 0x07, 0x01, {0x98}, 0, 0});
  kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 0, 0x07, 0x01, {0x00, 0x42}, 0, 0});
  ASSERT_EQ(Send({0x18, 0x01}), kExchangeOk);
  EXPECT_EQ(rspLen, 4);
  EXPECT_EQ(rsp[3], 0x42);
}

// A run opens the device once: requests and the maintenance mode share it, a failure closes it
// and the next request opens it again, and the run's end closes it.
TEST(OpenIpmiDriver, OneDeviceForTheRunReopenedAfterAFailure) {
  FakeKernel kernel;
  platform::VirtualClock clock;
  IpmiResponse out;
  {
    OpenIpmiDriver driver(kernel, clock);
    for (int i = 0; i < 3; ++i) {
      kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 0, 0x07, 0x01, {0x00}, 0, 0});
      ASSERT_EQ(driver.Exchange(testsupport::RequestOf({0x18, 0x01}), &out), kExchangeOk);
    }
    EXPECT_TRUE(driver.HoldMaintenanceMode(true));
    EXPECT_EQ(kernel.opened.size(), 1u);
    EXPECT_EQ(kernel.closes, 0);

    kernel.pollResults = {0};  // the BMC does not answer in time
    EXPECT_EQ(driver.Exchange(testsupport::RequestOf({0x18, 0x01}), &out), kTransferFailed);
    EXPECT_EQ(kernel.closes, 1);
    // The late answer to the failed request and then the next one's: only the latter counts.
    kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, -1, 0x07, 0x01, {0xC3}, 0, 0});
    kernel.answers.push_back({IPMI_RESPONSE_RECV_TYPE, 0, 0x07, 0x01, {0x00, 0x51}, 0, 0});
    ASSERT_EQ(driver.Exchange(testsupport::RequestOf({0x18, 0x01}), &out), kExchangeOk);
    EXPECT_EQ(out.bytes[3], 0x51);
    EXPECT_EQ(kernel.opened.size(), 2u);

    kernel.maintenanceRc = -1;  // a refused mode change closes the device like a failed request
    EXPECT_FALSE(driver.HoldMaintenanceMode(false));
    EXPECT_EQ(kernel.closes, 2);
    kernel.maintenanceRc = 0;
    EXPECT_TRUE(driver.HoldMaintenanceMode(false));
  }
  EXPECT_EQ(kernel.maintenanceModes, (std::vector<int>{IPMI_MAINTENANCE_MODE_ON, IPMI_MAINTENANCE_MODE_AUTO,
                                                       IPMI_MAINTENANCE_MODE_AUTO}));
  EXPECT_EQ(kernel.opened.size(), 3u);
  EXPECT_EQ(kernel.closes, 3);  // the last one at the run's end

  OpenIpmiDriver without(kernel, clock);
  kernel.openable.clear();
  EXPECT_FALSE(without.HoldMaintenanceMode(true));
}

}  // namespace
}  // namespace transport
