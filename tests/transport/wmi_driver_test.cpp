#include <gtest/gtest.h>

#include <vector>

#include "tests/transport/fake_wmi_method.h"
#include "transport/ipmi_exchange.h"

namespace transport {
namespace {

using wire::Bytes;

const WmiRetryPolicy kPolicies[] = {CodeKeyedRetrySettings{}, WholeRequestRetrySettings{}};

ExchangeStatus Send(IpmiDriver& driver, size_t capacity = kDriverResponseCapacity,
                    uint8_t requestLength = 2) {
  const uint8_t request[] = {0x18, 0x01};
  std::vector<uint8_t> response(capacity);
  uint8_t length = 0;
  return driver.Exchange(request, requestLength, response.data(), capacity, &length);
}

TEST(WmiPath, InstanceResolvedWithinABoundOrTheRunCannotGoOn) {
  struct Case {
    InstanceLookup lookup;
    WmiPresence presence;
    WmiOpenStep failedStep;
  } cases[] = {
      {InstanceLookup::kFound, WmiPresence::kPresent, WmiOpenStep::kNone},
      {InstanceLookup::kMissing, WmiPresence::kInstanceUnresolved, WmiOpenStep::kInstanceMissing},
      {InstanceLookup::kTimedOut, WmiPresence::kInstanceUnresolved, WmiOpenStep::kInstanceTimedOut},
  };
  for (const Case& c : cases) {
    FakeWmiPath path(CodeKeyedRetrySettings{});
    path.fake->lookup = c.lookup;
    FakeWmiMethod* fake = path.fake;
    WmiPathOpening opening = path.Open();
    EXPECT_EQ(opening.presence, c.presence);
    EXPECT_EQ(opening.failedStep, c.failedStep);
    ASSERT_EQ(opening.driver != nullptr, c.presence == WmiPresence::kPresent);
    if (!opening.driver) continue;  // the fake went with the path
    EXPECT_EQ(fake->lookupTimeoutMs, kInstanceLookupTimeoutMs);
    ASSERT_EQ(Send(*opening.driver), kExchangeOk);
    EXPECT_EQ(fake->calledPaths[0],
              L"\\\\.\\root\\WMI:Microsoft_IPMI.InstanceName=\"ROOT\\\\SYSTEM\\\\0001_0\"");
  }
}

// What cannot be sent, or comes back as no response, fails that request alone.
TEST(WmiPath, FailedRequestsLeaveThePathUsable) {
  struct Case {
    const char* name;
    PrepareResult prepare;
    std::vector<FakeWmiMethod::Reply> replies;
    size_t capacity;
    uint8_t requestLength;
    ExchangeStatus status;
    std::vector<int32_t> unavailable;
  } cases[] = {
      // clang-format off
      {"response data not an array of bytes", {}, {{false, {0x00, std::nullopt}}}, 127, 2, kTransferFailed, {}},
      {"response data beyond a 127-byte buffer", {}, {{false, {0x00, Bytes(126, 0)}}}, 127, 2, kTransferFailed, {}},
      {"response data beyond an 8-bit length", {}, {{false, {0x00, Bytes(254, 0)}}}, 256, 2, kTransferFailed, {}},
      {"no completion code", {}, {{false, {std::nullopt, Bytes{0x00}}}}, 127, 2, kTransferFailed, {}},
      {"method unavailable", {PrepareOutcome::kMethodUnavailable, -2147217406}, {}, 127, 2, kDriverUnreachable, {-2147217406}},
      {"parameter refused", {PrepareOutcome::kParameterRefused, -2147217403}, {}, 127, 2, kDriverUnreachable, {}},
      {"request without a command", {}, {}, 127, 1, kDriverUnreachable, {}},
      // clang-format on
  };
  for (const WmiRetryPolicy& policy : kPolicies) {
    for (const Case& c : cases) {
      FakeWmiPath path(policy);
      path.fake->prepareResult = c.prepare;
      path.fake->replies.assign(c.replies.begin(), c.replies.end());
      WmiPathOpening opening = path.Open();
      EXPECT_EQ(Send(*opening.driver, c.capacity, c.requestLength), c.status) << c.name;
      EXPECT_EQ(path.unavailableResults, c.unavailable) << c.name;
      EXPECT_TRUE(path.lines.empty()) << c.name;
      path.fake->prepareResult = {};
      EXPECT_EQ(Send(*opening.driver, c.capacity), kExchangeOk) << c.name;
    }
  }
}

TEST(WmiPath, AfterATeardownRequestsFailUntilTheOneReopen) {
  for (const WmiRetryPolicy& policy : kPolicies) {
    FakeWmiPath path(policy);
    FakeWmiMethod& fake = *path.fake;
    WmiPathOpening opening = path.Open();
    IpmiTransport transport{nullptr, opening.driver.get(), true};
    EXPECT_TRUE(ReopenAfterTeardown(transport)) << "nothing to reopen";

    // The call fails while a 0xFF is being re-sent: nothing more is sent.
    fake.AnswerCodes({0xFF});
    fake.replies.push_back({true, {}});
    fake.AnswerCodes({0x00});
    EXPECT_EQ(Send(*opening.driver), kTransferFailed);
    EXPECT_EQ(fake.replies.size(), 1u);
    EXPECT_EQ(Send(*opening.driver), kDriverUnreachable);

    EXPECT_TRUE(ReopenAfterTeardown(transport));
    EXPECT_EQ(Send(*opening.driver), kExchangeOk);
    fake.replies.push_back({true, {}});
    EXPECT_EQ(Send(*opening.driver), kTransferFailed);
    EXPECT_FALSE(ReopenAfterTeardown(transport)) << "reopened once already";
    EXPECT_EQ(Send(*opening.driver), kDriverUnreachable);
    EXPECT_EQ(fake.reopens, 1);
    EXPECT_EQ(fake.usedAfterTeardown, 0);
  }

  FakeWmiPath path(CodeKeyedRetrySettings{});
  path.fake->reopenSucceeds = false;
  path.fake->replies.push_back({true, {}});
  WmiPathOpening opening = path.Open();
  EXPECT_EQ(Send(*opening.driver), kTransferFailed);
  EXPECT_FALSE(opening.driver->ReopenAfterTeardown());
  EXPECT_FALSE(opening.driver->ReopenAfterTeardown());
  EXPECT_EQ(Send(*opening.driver), kDriverUnreachable);
  EXPECT_EQ(path.fake->reopens, 1);
  EXPECT_EQ(path.fake->usedAfterTeardown, 0);
}

}  // namespace
}  // namespace transport
