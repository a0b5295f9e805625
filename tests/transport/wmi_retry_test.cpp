#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ipmi_request.h"
#include "tests/transport/fake_wmi_method.h"

namespace transport {
namespace {

using wire::Bytes;
using Lines = std::vector<std::string>;

// A request with the class its command gives it.
struct Sent {
  Bytes bytes;
  RequestKind kind;
  uint8_t operator[](size_t i) const { return bytes[i]; }
};

const Sent kGetDeviceId = {{0x18, 0x01}, {}};
const Sent kLastChunk = {{0xF8, 0x13, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01, 0xAB}, {true, false}};
const Sent kMiddleChunk = {{0xF8, 0x13, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0xAB}, {}};
const Sent kEraseStart = {{0xF8, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA}, {true, false}};
const Sent kTakeLock = {{0xF8, 0x10, 0x00}, {false, true}};

const std::string kFf = "-----IPMIcommand FF-Retry Completion=ff----";
const std::string kLock = "-----IPMIcommand Lock-Retry Completion=ce----";
const std::string kForgiven = "-----MSDriver Completion Code=0xc5->0x00 ----";

std::string Other(const char* code) {
  return std::string("-----IPMIcommand Retry Completion=") + code + "----";
}
std::string UsedUp(const char* code) {
  return std::string("-----MSDriver Completion Code=") + code + "----";
}
template <class T>
std::vector<T> Then(std::vector<T> first, const std::vector<T>& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

Bytes Send(IpmiDriver& driver, const Sent& request) {
  IpmiResponse response;
  EXPECT_EQ(driver.Exchange(testsupport::RequestOf(request.bytes, request.kind), &response), kExchangeOk);
  return testsupport::BytesOf(response);
}

TEST(CodeKeyedRetry, ReactsToEachSequenceOfCompletionCodes) {
  const CodeKeyedRetrySettings byDefault{10, 3, 10000, 1, 60}, noFf{0, 3, 10000, 1, 60};
  struct Case {
    const char* name;
    CodeKeyedRetrySettings settings;  // 0xFF, other, wait ms, lock, lock wait s
    Sent request;
    std::vector<uint8_t> codes;  // the answers, each used once
    uint8_t finalCode;
    Lines lines;
    uint64_t sleptMs;
    bool highLoad;
  } cases[] = {
      // clang-format off
      {"0xFF twice then success", byDefault, kGetDeviceId, {0xFF, 0xFF, 0x00}, 0x00, {kFf, kFf}, 20000, false},
      {"0xFF kept with -ff_retry 0", noFf, kGetDeviceId, {0xFF}, 0xFF, {}, 0, false},
      {"no lock retry with -ff_retry 0", noFf, kTakeLock, {0xCE}, 0xCE, {}, 0, false},
      {"no forgiveness with -ff_retry 0", noFf, kLastChunk, {0xC5, 0xC5, 0xC5, 0xC5}, 0xC5, Lines(3, Other("c5")), 30000, false},
      {"last chunk: 0xC5 after 0xFF forgiven", byDefault, kLastChunk, {0xFF, 0xC5}, 0x00, {kFf, kForgiven}, 10000, false},
      {"erase start: 0xC5 after 0xFF forgiven", byDefault, kEraseStart, {0xFF, 0xC5}, 0x00, {kFf, kForgiven}, 10000, false},
      {"last chunk: 0xC5 without 0xFF re-sent", byDefault, kLastChunk, {0xC5, 0xC5, 0xC5, 0xC5}, 0xC5, Lines(3, Other("c5")), 30000, false},
      {"middle chunk: 0xC5 after 0xFF re-sent", byDefault, kMiddleChunk, {0xFF, 0xC5, 0x00}, 0x00, {kFf, Other("c5")}, 20000, false},
      {"lock: 0xCE at once kept", byDefault, kTakeLock, {0xCE}, 0xCE, {}, 0, false},
      {"lock: 0xCE after 0xFF re-sent once", byDefault, kTakeLock, {0xFF, 0xCE, 0xCE}, 0xCE, {kFf, kLock}, 70000, false},
      {"lock: -lock_retry, -lock_wait", {10, 3, 10000, 2, 2}, kTakeLock, {0xFF, 0xCE, 0xCE, 0x00}, 0x00, {kFf, kLock, kLock}, 14000, false},
      {"0xCE after 0xFF on another request", byDefault, kGetDeviceId, {0xFF, 0xCE}, 0xCE, {kFf}, 10000, false},
      {"0xC0 every time: four sendings", byDefault, kGetDeviceId, {0xC0, 0xC0, 0xC0, 0xC0}, 0xC0, Lines(3, Other("c0")), 30000, false},
      {"0xFF every time", byDefault, kGetDeviceId, Bytes(11, 0xFF), 0xFF, Then(Lines(10, kFf), {UsedUp("ff")}), 100000, true},
      {"0xFF used up, then 0xC1", byDefault, kGetDeviceId, Then(Bytes(10, 0xFF), Bytes(4, 0xC1)), 0xC1,
       Then(Lines(10, kFf), Then(Lines(3, Other("c1")), {UsedUp("c1")})), 130000, true},
      {"0xFF used up, then 0xCE", {1, 3, 10000, 1, 60}, kTakeLock, {0xFF, 0xCE, 0xCE}, 0xCE, {kFf, kLock, UsedUp("ce")}, 70000, true},
      {"0xFF used up, then success", {1, 3, 10000, 1, 60}, kGetDeviceId, {0xFF, 0x00}, 0x00, {kFf}, 10000, false},
      {"0xFF used up, then forgiven", {2, 3, 10000, 1, 60}, kLastChunk, {0xFF, 0xFF, 0xC5}, 0x00, {kFf, kFf, kForgiven}, 20000, false},
      {"other re-sends and wait as set", {10, 1, 250, 1, 60}, kGetDeviceId, {0xD5, 0xD5}, 0xD5, {Other("d5")}, 250, false},
      {"counts and waits below zero are zero", {-5, 3, -10, 1, 60}, kGetDeviceId, {0xC0, 0xC0, 0xC0, 0xC0}, 0xC0, Lines(3, Other("c0")), 0, false},
      {"no other re-sends below zero", {10, -1, 10000, 1, 60}, kGetDeviceId, {0xC0}, 0xC0, {}, 0, false},
      // clang-format on
  };
  for (const Case& c : cases) {
    FakeWmiPath path(c.settings);
    path.fake->AnswerCodes(c.codes);
    WmiPathOpening opening = path.Open();
    ASSERT_TRUE(opening.driver) << c.name;
    EXPECT_EQ(Send(*opening.driver, c.request),
              (Bytes{static_cast<uint8_t>(c.request[0] + 4), c.request[1], c.finalCode, 0xA5}))
        << c.name;
    EXPECT_TRUE(path.fake->replies.empty()) << c.name << ": answers left over";
    EXPECT_EQ(path.fake->prepared.size(), 1u) << c.name << ": parameters filled once";
    EXPECT_EQ(path.lines, c.lines) << c.name;
    EXPECT_EQ(path.clock.TotalSleptMs(), c.sleptMs) << c.name;
    EXPECT_EQ(path.highLoadCodes, c.highLoad ? Bytes{c.finalCode} : Bytes{}) << c.name;
  }
}

TEST(CodeKeyedRetry, DriverValuesLoggedOnceAndPassedWithEveryRequest) {
  CodeKeyedRetrySettings settings;
  settings.driverWaits = {1000, 2000, -3};
  settings.logDriverWaits = true;
  FakeWmiPath path(settings);
  WmiPathOpening opening = path.Open();
  Send(*opening.driver, kGetDeviceId);
  Send(*opening.driver, kTakeLock);
  EXPECT_EQ(path.lines, Lines{"CW=1000 IW=2000 BW =-3"});
  ASSERT_EQ(path.fake->prepared.size(), 2u);
  EXPECT_EQ(path.fake->prepared[1].data, (Bytes{0x00, 0,    0, 0, 1,    0,    0,    0,    0xE8, 0x03, 0, 0,
                                                0xD0, 0x07, 0, 0, 0xFD, 0xFF, 0xFF, 0xFF, 30,   0,    0, 0}));
}

TEST(WholeRequestRetry, TenAttemptsEachLoggedWithTheExchange) {
  struct Case {
    const char* name;
    int64_t waitSeconds;
    std::vector<uint8_t> codes;
    uint64_t sleptMs;
  } cases[] = {
      {"success at once", 5, {0x00}, 0},
      {"two failures, then success", 5, {0xC0, 0xFF, 0x00}, 10000},
      {"failing every time", 3, Bytes(10, 0xD5), 30000},
      {"failing every time, no wait", 0, Bytes(10, 0xC3), 0},
      {"a wait beyond 32 bits of milliseconds", 4294968, {0xC0, 0x00}, 4294968000},
  };
  const Sent request = {{0x20, 0x02, 0x00, 0x10}, {}};
  for (const Case& c : cases) {
    WholeRequestRetrySettings settings;
    settings.waitSeconds = c.waitSeconds;
    FakeWmiPath path(settings);
    path.fake->AnswerCodes(c.codes);
    WmiPathOpening opening = path.Open();
    // The request's own network function byte comes back.
    EXPECT_EQ(Send(*opening.driver, request), (Bytes{0x20, 0x02, c.codes.back(), 0xA5})) << c.name;
    EXPECT_TRUE(path.fake->replies.empty()) << c.name;
    EXPECT_EQ(path.fake->prepared.size(), c.codes.size()) << c.name << ": parameters filled anew";
    Lines lines;
    for (size_t i = 0; i < c.codes.size() && c.codes[i] != 0x00; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "Abnormal CompletionCode:%02Xh Retry Count:%zu", c.codes[i], i);
      lines.push_back(line);
      lines.push_back("  request  = 20 02 00 10 ");
      std::snprintf(line, sizeof line, "  response = 20 02 %02X A5 ", c.codes[i]);
      lines.push_back(line);
    }
    EXPECT_EQ(path.lines, lines) << c.name;
    EXPECT_EQ(path.clock.TotalSleptMs(), c.sleptMs) << c.name;
    EXPECT_EQ(path.fake->prepared[0].data,
              (Bytes{0x00, 0x10, 0,    0,    1,    0,    0,    0,    0x80, 0xB2, 0xE6, 0x0E,
                     0x80, 0xB2, 0xE6, 0x0E, 0x00, 0x1C, 0x4E, 0x0E, 30,   0,    0,    0}));
  }
}

}  // namespace
}  // namespace transport
