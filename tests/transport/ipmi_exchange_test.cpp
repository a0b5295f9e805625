#include "transport/ipmi_exchange.h"

#include <gtest/gtest.h>

namespace transport {
namespace {

class TaggedDriver : public IpmiDriver {
 public:
  explicit TaggedDriver(uint8_t tag) : tag_(tag) {}
  int calls = 0;
  ExchangeStatus Exchange(const IpmiRequest& request, IpmiResponse* response) override {
    ++calls;
    response->bytes[0] = static_cast<uint8_t>(request.bytes[0] + 4);
    response->bytes[1] = request.bytes[1];
    response->bytes[2] = tag_;
    response->length = 3;
    return kExchangeOk;
  }

 private:
  uint8_t tag_;
};

TEST(IpmiExchange, UseWmiPathSelectsTheDriver) {
  TaggedDriver vendor(0x01), wmi(0x02);
  IpmiTransport t{&vendor, &wmi, false};
  IpmiRequest req;
  req.bytes[0] = 0x18;
  req.bytes[1] = 0x01;
  req.length = 2;
  IpmiResponse rsp;
  ASSERT_EQ(IpmiExchange(t, req, &rsp), kExchangeOk);
  EXPECT_EQ(rsp.bytes[2], 0x01);
  t.UseWmiPath = true;
  ASSERT_EQ(IpmiExchange(t, req, &rsp), kExchangeOk);
  EXPECT_EQ(rsp.bytes[2], 0x02);
  EXPECT_EQ(vendor.calls, 1);
  EXPECT_EQ(wmi.calls, 1);
}

TEST(IpmiExchange, MissingPathIsUnreachable) {
  IpmiTransport t;
  t.UseWmiPath = true;
  IpmiRequest req;
  req.length = 2;
  IpmiResponse rsp;
  rsp.length = 77;
  rsp.bytes[2] = 0x00;
  EXPECT_EQ(IpmiExchange(t, req, &rsp), kDriverUnreachable);
  EXPECT_EQ(rsp.length, 0);
}

// A driver that answers with fewer bytes than an earlier answer: the earlier bytes must not
// stay behind, or a 2-byte answer would read as completion code 00h.
TEST(IpmiExchange, ShortAnswerLeavesNoStaleBytes) {
  struct ShortDriver : IpmiDriver {
    uint8_t length = 3;
    ExchangeStatus Exchange(const IpmiRequest& request, IpmiResponse* response) override {
      for (uint8_t i = 0; i < length; ++i) response->bytes[i] = i == 0 ? request.bytes[0] + 4 : 0x11;
      response->length = length;
      return kExchangeOk;
    }
  } driver;
  IpmiTransport t{&driver, nullptr, false};
  IpmiRequest req;
  req.bytes[0] = 0xF8;
  req.length = 2;
  IpmiResponse rsp;
  ASSERT_EQ(IpmiExchange(t, req, &rsp), kExchangeOk);
  EXPECT_EQ(rsp.bytes[2], 0x11);
  driver.length = 2;
  ASSERT_EQ(IpmiExchange(t, req, &rsp), kExchangeOk);
  EXPECT_EQ(rsp.length, 2);
  EXPECT_EQ(rsp.bytes[2], 0x00);
}

}  // namespace
}  // namespace transport
