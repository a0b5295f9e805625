#include "runcontrol/bmc_status.h"

#include <gtest/gtest.h>

#include <memory>

#include <algorithm>
#include <vector>

#include "runcontrol/run_context.h"
#include "tests/runcontrol/run_test_support.h"
#include "tests/support/temp_dir.h"

namespace runcontrol {
namespace {

// A driver that answers every request with the same prepared bytes.
class ScriptedDriver : public transport::IpmiDriver {
 public:
  transport::ExchangeStatus status = transport::kExchangeOk;
  std::vector<uint8_t> answer;
  std::vector<std::vector<uint8_t>> requests;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    requests.emplace_back(request.bytes, request.bytes + request.length);
    if (status == transport::kDriverUnreachable) return status;
    const size_t n = std::min(answer.size(), sizeof response->bytes);
    std::copy(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(n), response->bytes);
    response->length = static_cast<uint8_t>(n);
    return status;
  }
};

// Get Device ID's answer: device 20h, revision 01h, firmware 81h.23h (bit 7 set: the BMC
// reports an update in progress), IPMI 2.0, manufacturer 002880h, product ID 1B0Ah.
std::vector<uint8_t> Answer(size_t length, uint8_t completion = 0x00) {
  std::vector<uint8_t> bytes = {0x1C, 0x01, completion, 0x20, 0x01, 0x81, 0x23, 0x02, 0xBF,
                                0x80, 0x28, 0x00,       0x0A, 0x1B, 0x11, 0x22, 0x33, 0x44};
  bytes.resize(length, 0x00);
  return bytes;
}

// What the check makes of the BMC's answer and of mchk_fil; the exchange is kept for the log
// whatever the outcome.
TEST(CheckBmcStatus, IdentityAndHardwareListGiveTheStatus) {
  testsupport::TempDir dir;
  const std::string listed = dir.File("listed"), other = dir.File("other"), missing = dir.File("missing");
  ASSERT_TRUE(platform::WriteFileAtomically(listed, "RX300 S8 1B0A\n"));
  ASSERT_TRUE(platform::WriteFileAtomically(other, "RX300 S7 1B09\n"));
  const struct {
    const char* name;
    transport::ExchangeStatus status;
    std::vector<uint8_t> answer;
    std::string list;
    BmcStatus expected;
  } cases[] = {
      {"listed, 14 bytes", transport::kExchangeOk, Answer(14), listed, BmcStatus::kTarget},
      {"listed, 18 bytes", transport::kExchangeOk, Answer(18), listed, BmcStatus::kTarget},
      {"not listed", transport::kExchangeOk, Answer(14), other, BmcStatus::kNotListed},
      {"no list", transport::kExchangeOk, Answer(14), missing, BmcStatus::kHardwareListUnreadable},
      {"15 bytes", transport::kExchangeOk, Answer(15), listed, BmcStatus::kNoIdentity},
      {"completion code C1h", transport::kExchangeOk, Answer(14, 0xC1), listed, BmcStatus::kNoIdentity},
      {"driver unreachable", transport::kDriverUnreachable, {}, listed, BmcStatus::kDriverUnreachable},
      {"transfer failed", transport::kTransferFailed, Answer(14), listed, BmcStatus::kNoIdentity},
  };
  for (const auto& c : cases) {
    ScriptedDriver driver;
    driver.status = c.status;
    driver.answer = c.answer;
    transport::IpmiTransport transport;
    transport.vendorDriver = &driver;
    ipmi::Sender sender(transport);
    const BmcStatusCheck check = CheckBmcStatus(sender, c.list);
    EXPECT_EQ(check.status, c.expected) << c.name;
    ASSERT_EQ(driver.requests.size(), 1u) << c.name;
    EXPECT_EQ(std::vector<uint8_t>(check.request.bytes, check.request.bytes + check.request.length),
              (std::vector<uint8_t>{0x18, 0x01}))
        << c.name;
    if (c.status == transport::kExchangeOk) {
      const transport::IpmiResponse& response = check.answer.response;
      EXPECT_EQ(std::vector<uint8_t>(response.bytes, response.bytes + response.length), c.answer) << c.name;
    }
    if (c.expected == BmcStatus::kTarget) {
      EXPECT_EQ(check.identity.deviceId, 0x20);
      EXPECT_EQ(check.identity.FirmwareVersion(), "81.23");
      EXPECT_EQ(check.identity.HardwareId(), "1b0a");
    }
  }
}

class ChooseTransportTest : public runcontroltest::RunTest {};

// The opened Microsoft driver carries every request; without one, or when its instance cannot
// be resolved, it carries none.
TEST_F(ChooseTransportTest, TheMicrosoftDriverWhenOneOpensElseTheVendorDriver) {
  const transport::WmiPresence presences[] = {transport::WmiPresence::kNotPresent,
                                              transport::WmiPresence::kPresent,
                                              transport::WmiPresence::kInstanceUnresolved};
  for (transport::WmiPresence presence : presences) {
    ScriptedDriver vendor;
    auto microsoft = std::make_unique<ScriptedDriver>();
    ScriptedDriver* opened = microsoft.get();
    vendor.answer = microsoft->answer = Answer(14);
    env.vendorDriver = &vendor;
    env.openWmiPath = [&](const transport::WmiPathSetup&) {
      transport::WmiPathOpening opening;
      opening.presence = presence;
      if (presence == transport::WmiPresence::kPresent) opening.driver = std::move(microsoft);
      return opening;
    };
    auto run = NewRun();
    EXPECT_EQ(ChooseTransport(*run, transport::WmiPathSetup{}), presence);
    ipmi::Sender sender(run->transport);
    EXPECT_EQ(CheckBmcStatus(sender, "mchk_fil").status, BmcStatus::kHardwareListUnreadable);
    const bool wmi = presence == transport::WmiPresence::kPresent;
    EXPECT_EQ(vendor.requests.size(), wmi ? 0u : 1u);
    if (wmi) {
      EXPECT_EQ(opened->requests.size(), 1u);
    }
  }
}

}  // namespace
}  // namespace runcontrol
