#include "runcontrol/device_identity.h"

#include <gtest/gtest.h>

#include <memory>

#include <algorithm>
#include <vector>

#include "runcontrol/run_context.h"
#include "tests/runcontrol/run_test_support.h"

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

TEST(QueryDeviceIdentity, AcceptsOnlyTheTwoAnswerLengthsWithCompletionCodeZero) {
  const struct {
    const char* name;
    transport::ExchangeStatus status;
    std::vector<uint8_t> answer;
    IdentityResult result;
    bool aux;
  } cases[] = {
      {"14 bytes", transport::kExchangeOk, Answer(14), IdentityResult::kOk, false},
      {"18 bytes with the auxiliary revision", transport::kExchangeOk, Answer(18), IdentityResult::kOk, true},
      {"13 bytes", transport::kExchangeOk, Answer(13), IdentityResult::kBadAnswer, false},
      {"15 bytes", transport::kExchangeOk, Answer(15), IdentityResult::kBadAnswer, false},
      {"17 bytes", transport::kExchangeOk, Answer(17), IdentityResult::kBadAnswer, false},
      {"completion code C1h", transport::kExchangeOk, Answer(14, 0xC1), IdentityResult::kBadAnswer, false},
      {"error answer", transport::kExchangeOk, Answer(3, 0xFF), IdentityResult::kBadAnswer, false},
      {"driver unreachable", transport::kDriverUnreachable, {}, IdentityResult::kDriverUnreachable, false},
      {"transfer failed", transport::kTransferFailed, Answer(14), IdentityResult::kTransferFailed, false},
  };
  for (const auto& c : cases) {
    ScriptedDriver driver;
    driver.status = c.status;
    driver.answer = c.answer;
    transport::IpmiTransport transport;
    transport.vendorDriver = &driver;
    DeviceIdentity identity;
    transport::IpmiRequest request;
    transport::IpmiResponse response;
    EXPECT_EQ(QueryDeviceIdentity(transport, &identity, &request, &response), c.result) << c.name;
    ASSERT_EQ(driver.requests.size(), 1u) << c.name;
    EXPECT_EQ(driver.requests[0], (std::vector<uint8_t>{0x18, 0x01})) << c.name;
    // The caller logs the exchange as it happened.
    EXPECT_EQ(std::vector<uint8_t>(request.bytes, request.bytes + request.length), driver.requests[0]);
    if (c.status == transport::kExchangeOk) {
      EXPECT_EQ(std::vector<uint8_t>(response.bytes, response.bytes + response.length), c.answer) << c.name;
    }
    if (c.result == IdentityResult::kOk) {
      EXPECT_EQ(identity.deviceId, 0x20);
      EXPECT_EQ(identity.ipmiVersion, 0x02);
      EXPECT_EQ(identity.FirmwareVersion(), "81.23");
      EXPECT_EQ(identity.HardwareId(), "1b0a");
      EXPECT_EQ(identity.hasAuxRevision, c.aux) << c.name;
    } else {
      EXPECT_EQ(identity.HardwareId(), "0000") << c.name;  // nothing of a refused answer is taken
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
    DeviceIdentity identity;
    transport::IpmiRequest request;
    transport::IpmiResponse response;
    EXPECT_EQ(QueryDeviceIdentity(run->transport, &identity, &request, &response), IdentityResult::kOk);
    const bool wmi = presence == transport::WmiPresence::kPresent;
    EXPECT_EQ(vendor.requests.size(), wmi ? 0u : 1u);
    if (wmi) {
      EXPECT_EQ(opened->requests.size(), 1u);
    }
  }
}

}  // namespace
}  // namespace runcontrol
