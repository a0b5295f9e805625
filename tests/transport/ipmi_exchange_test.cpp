#include "transport/ipmi_exchange.h"

#include <gtest/gtest.h>

namespace transport {
namespace {

class TaggedDriver : public IpmiDriver {
 public:
  explicit TaggedDriver(uint8_t tag) : tag_(tag) {}
  int calls = 0;
  ExchangeStatus Exchange(const uint8_t* request, uint8_t, uint8_t* response, size_t,
                          uint8_t* length) override {
    ++calls;
    response[0] = static_cast<uint8_t>(request[0] + 4);
    response[1] = request[1];
    response[2] = tag_;
    *length = 3;
    return kExchangeOk;
  }

 private:
  uint8_t tag_;
};

TEST(IpmiExchange, UseWmiPathSelectsTheDriver) {
  TaggedDriver vendor(0x01), wmi(0x02);
  IpmiTransport t{&vendor, &wmi, false};
  IpmiRequest req;
  req.bytes[0] = kNetFnApp;
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
  EXPECT_EQ(rsp.length, 77);
}

// A driver that answers with fewer bytes than an earlier answer: the earlier bytes must not
// stay behind, or a 2-byte answer would read as completion code 00h.
TEST(IpmiExchange, ShortAnswerLeavesNoStaleBytes) {
  struct ShortDriver : IpmiDriver {
    uint8_t length = 3;
    ExchangeStatus Exchange(const uint8_t* request, uint8_t, uint8_t* response, size_t,
                            uint8_t* responseLength) override {
      for (uint8_t i = 0; i < length; ++i) response[i] = i == 0 ? request[0] + 4 : 0x11;
      *responseLength = length;
      return kExchangeOk;
    }
  } driver;
  IpmiTransport t{&driver, nullptr, false};
  IpmiRequest req;
  req.bytes[0] = kNetFnOem;
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
