#include "transport/log_exchange.h"

#include <gtest/gtest.h>

#include <vector>

namespace transport {
namespace {

TEST(LogExchange, EachProgramHasItsOwnPrefixes) {
  const uint8_t req[] = {0x18, 0x01};
  const uint8_t rsp[] = {0x1C, 0x01, 0xC1};
  std::vector<std::string> lines;
  LogSink sink = [&](const std::string& line) { lines.push_back(line); };

  LogExchange(sink, ExchangeLogStyle::kSdrTool, req, rsp, 2, 3);
  LogExchange(sink, ExchangeLogStyle::kFirmwareTool, req, rsp, 2, 3);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "request  = 18 01 ");
  EXPECT_EQ(lines[1], "response = 1C 01 C1 ");
  EXPECT_EQ(lines[2], "  request  = 18 01 ");
  EXPECT_EQ(lines[3], "  response = 1C 01 C1 ");
}

TEST(LogExchange, EmptyResponseGivesBarePrefix) {
  const uint8_t req[] = {0x28, 0x20};
  std::vector<std::string> lines;
  LogExchange([&](const std::string& l) { lines.push_back(l); }, ExchangeLogStyle::kSdrTool, req, nullptr, 2,
              0);
  EXPECT_EQ(lines[1], "response = ");
}

}  // namespace
}  // namespace transport
