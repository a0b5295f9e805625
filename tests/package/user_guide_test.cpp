#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "fwtool/result_codes.h"
#include "sdrtool/error_catalogue.h"
#include "sdrtool/result_codes.h"

namespace {

// The guide's result-code tables are a copy of the programs' tables; administrators match log
// lines against them, so they must not drift. The block between these lines is compared whole.
constexpr const char* kBegin =
    "<!-- result-codes: begin (generated; see tests/package/user_guide_test.cpp) -->";
constexpr const char* kEnd = "<!-- result-codes: end -->";

std::string Row(const std::string& code, const char* message) {
  return "| `" + code + "` | `" + message + "` |\n";
}

std::string ExpectedBlock() {
  std::string out = std::string(kBegin) + "\n\n";
  out += "### veltrop\n\n| result code | log message |\n|---|---|\n";
  for (size_t i = 0; i < veltrop::kResultMessageCount; ++i) {
    out += Row(veltrop::kResultMessages[i].code, veltrop::kResultMessages[i].message);
  }
  out += "\nNumbered errors (`SDR` and the number in three digits; the log line is `Error, ` and the\n";
  out += "text, `%d` or `%s` filled in, sometimes followed by a detail):\n\n";
  out += "| result code | log text |\n|---|---|\n";
  for (int n = 1; n <= 79; ++n) {
    char code[16];
    std::snprintf(code, sizeof code, "SDR%03d", n);
    out += Row(code, veltrop::ErrorText(n));
  }
  out += "\n### Korvane\n\n| result code | log message |\n|---|---|\n";
  for (size_t i = 0; i < korvane::kResultMessageCount; ++i) {
    out += Row(korvane::kResultMessages[i].code, korvane::kResultMessages[i].message);
  }
  out += "\n" + std::string(kEnd) + "\n";
  return out;
}

TEST(UserGuide, ResultCodeTablesAreThePrograms) {
  std::ifstream in(BMC_USER_GUIDE, std::ios::binary);
  ASSERT_TRUE(in) << BMC_USER_GUIDE;
  std::stringstream text;
  text << in.rdbuf();
  const std::string guide = text.str();
  const std::string expected = ExpectedBlock();
  const size_t begin = guide.find(kBegin);
  const size_t end = guide.find(kEnd);
  ASSERT_NE(begin, std::string::npos) << "no begin marker in the guide; the block:\n" << expected;
  ASSERT_NE(end, std::string::npos) << "no end marker in the guide; the block:\n" << expected;
  ASSERT_LT(begin, end);
  const std::string actual = guide.substr(begin, end + std::string(kEnd).size() + 1 - begin);
  EXPECT_EQ(actual, expected) << "replace the guide's block with:\n" << expected;
}

TEST(UserGuide, EveryNumberedErrorHasItsText) {
  // A hole in the catalogue would leave a row with an empty message in the guide.
  for (int n = 1; n <= 79; ++n) {
    ASSERT_NE(veltrop::ErrorText(n), nullptr) << n;
    EXPECT_GT(std::string(veltrop::ErrorText(n)).size(), 0u) << n;
  }
}

}  // namespace
