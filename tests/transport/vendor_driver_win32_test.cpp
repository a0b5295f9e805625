#include "transport/vendor_driver.h"

#include <gtest/gtest.h>

namespace transport {
namespace {

// No vendor driver is installed under Wine: the open fails.
TEST(VendorDriverWin32, MissingDeviceGivesStatus9AndLeavesTheLengthUnchanged) {
  auto driver = MakeVendorDriver();
  uint8_t req[] = {0x18, 0x01};
  uint8_t rsp[127] = {};
  uint8_t len = 0x5C;
  EXPECT_EQ(driver->Exchange(req, 2, rsp, sizeof rsp, &len), kDriverUnreachable);
  EXPECT_EQ(len, 0x5C);
}

}  // namespace
}  // namespace transport
