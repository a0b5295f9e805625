#include "transport/log_exchange.h"

#include <gtest/gtest.h>

#include <vector>

namespace transport {
namespace {

TEST(LogExchange, LinesAfterTheCallersPrefix) {
  const uint8_t req[] = {0x18, 0x01};
  const uint8_t rsp[] = {0x1C, 0x01, 0xC1};
  std::vector<std::string> lines;
  LogSink sink = [&](const std::string& line) { lines.push_back(line); };

  LogExchange(sink, "", req, 2, rsp, 3);
  LogExchange(sink, "  ", req, 2, nullptr, 0);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "request  = 18 01 ");
  EXPECT_EQ(lines[1], "response = 1C 01 C1 ");
  EXPECT_EQ(lines[2], "  request  = 18 01 ");
  EXPECT_EQ(lines[3], "  response = ");
}

}  // namespace
}  // namespace transport
