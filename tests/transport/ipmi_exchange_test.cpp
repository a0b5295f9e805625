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
  EXPECT_EQ(IpmiExchange(t, req, &rsp), kDriverUnreachable);
  EXPECT_EQ(rsp.length, 77);
}

}  // namespace
}  // namespace transport
