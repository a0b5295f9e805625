#include "transport/vendor_driver.h"

#include <gtest/gtest.h>

namespace transport {
namespace {

// No vendor driver is installed under Wine: the open fails.
TEST(VendorDriverWin32, MissingDeviceGivesStatus9AndLeavesTheLengthUnchanged) {
  auto driver = MakeVendorDriver();
  IpmiRequest req;
  req.bytes[0] = 0x18;
  req.bytes[1] = 0x01;
  req.length = 2;
  IpmiResponse rsp;
  rsp.length = 0x5C;
  EXPECT_EQ(driver->Exchange(req, &rsp), kDriverUnreachable);
  EXPECT_EQ(rsp.length, 0x5C);
}

}  // namespace
}  // namespace transport
