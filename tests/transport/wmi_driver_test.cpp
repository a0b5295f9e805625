#include <gtest/gtest.h>

#include <vector>

#include "tests/transport/fake_wmi_method.h"
#include "transport/ipmi_exchange.h"

namespace transport {
namespace {

using wire::Bytes;

const WmiRetryPolicy kPolicies[] = {CodeKeyedRetrySettings{}, WholeRequestRetrySettings{}};

ExchangeStatus Send(IpmiDriver& driver, uint8_t requestLength = 2) {
  IpmiRequest request;
  request.bytes[0] = 0x18;
  request.bytes[1] = 0x01;
  request.length = requestLength;
  IpmiResponse response;
  return driver.Exchange(request, &response);
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
    uint8_t requestLength;
    ExchangeStatus status;
    std::vector<int32_t> unavailable;
  } cases[] = {
      // clang-format off
      {"response data not an array of bytes", {}, {{false, {0x00, std::nullopt}}}, 2, kTransferFailed, {}},
      {"response data beyond an 8-bit length", {}, {{false, {0x00, Bytes(254, 0)}}}, 2, kTransferFailed, {}},
      {"no completion code", {}, {{false, {std::nullopt, Bytes{0x00}}}}, 2, kTransferFailed, {}},
      {"method unavailable", {PrepareOutcome::kMethodUnavailable, -2147217406}, {}, 2, kDriverUnreachable, {-2147217406}},
      {"parameter refused", {PrepareOutcome::kParameterRefused, -2147217403}, {}, 2, kDriverUnreachable, {}},
      {"request without a command", {}, {}, 1, kDriverUnreachable, {}},
      // clang-format on
  };
  for (const WmiRetryPolicy& policy : kPolicies) {
    for (const Case& c : cases) {
      FakeWmiPath path(policy);
      path.fake->prepareResult = c.prepare;
      path.fake->replies.assign(c.replies.begin(), c.replies.end());
      WmiPathOpening opening = path.Open();
      EXPECT_EQ(Send(*opening.driver, c.requestLength), c.status) << c.name;
      EXPECT_EQ(path.unavailableResults, c.unavailable) << c.name;
      EXPECT_TRUE(path.lines.empty()) << c.name;
      path.fake->prepareResult = {};
      EXPECT_EQ(Send(*opening.driver), kExchangeOk) << c.name;
    }
  }
}

// Every teardown can be followed by a reopen: a run undoing what it changed on the BMC (channel
// 2, the update lock) must not lose the path for good to one failed call among its retries.
TEST(WmiPath, AfterATeardownRequestsFailUntilReopened) {
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
    EXPECT_EQ(Send(*opening.driver), kDriverUnreachable);
    EXPECT_TRUE(ReopenAfterTeardown(transport)) << "a second teardown";
    EXPECT_EQ(Send(*opening.driver), kExchangeOk);
    EXPECT_EQ(fake.reopens, 2);
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
  EXPECT_EQ(path.fake->reopens, 2);
  EXPECT_EQ(path.fake->usedAfterTeardown, 0);
}

}  // namespace
}  // namespace transport
