#include "transport/wmi_request.h"

#include <gtest/gtest.h>

#include <vector>

namespace transport {
namespace {

using wire::Bytes;

Bytes Then(Bytes first, const Bytes& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

// The Data array as the driver reads it: data, zeros, then 1, CW, IW, BW and 30.
Bytes DataArray(Bytes data, size_t zeros, uint32_t cw = 15000000, uint32_t iw = 15000000,
                uint32_t bw = 10000000) {
  data.resize(data.size() + zeros);
  return wire::ByteWriter().Append(data).U32(1).U32(cw).U32(iw).U32(bw).U32(30).Take();
}

TEST(WmiRequest, InParametersPadTheDataAndCarryTheDriverValues) {
  struct Case {
    Bytes request;
    DriverWaits waits;
    uint8_t netFn, command;
    int32_t requestDataSize, dataSize;
    Bytes data;
  } cases[] = {
      // clang-format off
      {{0x18, 0x01}, {15000000, 15000000, 10000000}, 0x06, 0x01, 0, 20, DataArray({}, 0)},
      {{0x28, 0x22, 0x7E}, {15000000, 15000000, 10000000}, 0x0A, 0x22, 1, 24, DataArray({0x7E}, 3)},
      {{0xF8, 0x13, 1, 2, 3, 4}, {15000000, 15000000, 10000000}, 0x3E, 0x13, 4, 24, DataArray({1, 2, 3, 4}, 0)},
      {{0x20, 0x05, 1, 2, 3, 4, 5}, {15000000, 15000000, 10000000}, 0x08, 0x05, 5, 28, DataArray({1, 2, 3, 4, 5}, 3)},
      {Then({0xF8, 0x13}, Bytes(253, 0x5A)), {-1, 0, 250000000}, 0x3E, 0x13, 253, 276, DataArray(Bytes(253, 0x5A), 3, 0xFFFFFFFF, 0, 250000000)},
      // clang-format on
  };
  for (const Case& c : cases) {
    WmiInParameters in;
    ASSERT_TRUE(BuildInParameters(c.request.data(), static_cast<uint8_t>(c.request.size()), c.waits, &in));
    EXPECT_EQ(in.networkFunction, c.netFn);
    EXPECT_EQ(in.lun, 0);
    EXPECT_EQ(in.responderAddress, 0x20);
    EXPECT_EQ(in.command, c.command);
    EXPECT_EQ(in.requestDataSize, c.requestDataSize);
    EXPECT_EQ(in.dataSize, c.dataSize);
    EXPECT_EQ(in.data, c.data) << c.request.size();
  }
  const uint8_t headerOnly[] = {0x18};
  WmiInParameters in;
  EXPECT_FALSE(BuildInParameters(headerOnly, 1, {}, &in));
}

TEST(WmiRequest, InstancePathDoublesEachBackslashOfTheName) {
  const std::wstring prefix = L"\\\\.\\root\\WMI:Microsoft_IPMI.InstanceName=\"";
  struct Case {
    std::wstring name, quoted;
  } cases[] = {
      {L"ROOT\\SYSTEM\\0001_0", L"ROOT\\\\SYSTEM\\\\0001_0"},
      {L"\\ROOT\\\\SYSTEM\\0001_0\\", L"ROOT\\\\SYSTEM\\\\0001_0"},
      {L"\\\\\\ROOT\\\\\\", L"ROOT"},
      {L"IPMI", L"IPMI"},
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(IpmiInstancePath(c.name), prefix + c.quoted + L"\"");
}

TEST(WmiRequest, ResponseTakesTheCompletionCodeAndOnlyByteArraysThatFit) {
  const uint8_t request[] = {0xF8, 0x13, 0x01};
  const auto answering = ResponseNetFn::kAnswering;
  struct Case {
    const char* name;
    ResponseNetFn netFn;
    uint8_t completionCode;
    std::optional<Bytes> data;
    size_t capacity;
    std::optional<Bytes> response;  // none: refused
  } cases[] = {
      // clang-format off
      {"answering network function", answering, 0x00, Bytes{0x00, 0x11, 0x22}, 127, Bytes{0xFC, 0x13, 0x00, 0x11, 0x22}},
      {"requested network function", ResponseNetFn::kAsRequested, 0xC1, Bytes{0xC1}, 127, Bytes{0xF8, 0x13, 0xC1}},
      {"forgiven code replaces the driver's", answering, 0x00, Bytes{0xC5, 0x07}, 127, Bytes{0xFC, 0x13, 0x00, 0x07}},
      {"empty array", answering, 0x00, Bytes{}, 127, Bytes{0xFC, 0x13}},
      {"fills the buffer", answering, 0x00, Bytes(125, 0x3C), 127, Then({0xFC, 0x13, 0x00}, Bytes(124, 0x3C))},
      {"one byte beyond the buffer", answering, 0x00, Bytes(126, 0), 127, std::nullopt},
      {"253 elements in 256 bytes", answering, 0x00, Bytes(253, 0x3C), 256, Then({0xFC, 0x13, 0x00}, Bytes(252, 0x3C))},
      {"beyond an 8-bit length", answering, 0x00, Bytes(254, 0), 256, std::nullopt},
      {"not an array of bytes", answering, 0x00, std::nullopt, 127, std::nullopt},
      // clang-format on
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buffer(c.capacity, 0xEE);
    uint8_t length = 0x77;
    const bool built =
        BuildWmiResponse(request, 3, c.netFn, c.completionCode, c.data, buffer.data(), c.capacity, &length);
    ASSERT_EQ(built, c.response.has_value()) << c.name;
    if (built) {
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), *c.response) << c.name;
    } else {
      EXPECT_EQ(length, 0x77) << c.name;
      EXPECT_EQ(buffer, std::vector<uint8_t>(c.capacity, 0xEE)) << c.name;
    }
  }
}

}  // namespace
}  // namespace transport
