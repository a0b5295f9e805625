#include "runcontrol/hardware_list.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace runcontrol {
namespace {

TEST(FindHardwareId, AnywhereInOneLineWithoutRegardToCase) {
  const std::string longLine = std::string(300, 'x') + "1B0A tail";
  const struct {
    const char* name;
    const char* content;  // nullptr: no list
    HardwareListResult result;
  } cases[] = {
      {"own line", "1a2b\n1b0a\n", HardwareListResult::kListed},
      {"inside a line, upper case", "RX300 S6 [1B0A] D2619\n", HardwareListResult::kListed},
      {"CR LF lines", "1a2b\r\n1B0A\r\n", HardwareListResult::kListed},
      {"last line without a line end", "1a2b\nxx1b0a", HardwareListResult::kListed},
      {"a line longer than 255 characters", longLine.c_str(), HardwareListResult::kListed},
      {"not across lines", "xx1b\n0axx\n", HardwareListResult::kNotListed},
      {"another machine", "1b0b\n01b0\n", HardwareListResult::kNotListed},
      {"empty list", "", HardwareListResult::kNotListed},
      {"no list", nullptr, HardwareListResult::kUnreadable},
  };
  for (const auto& c : cases) {
    testsupport::TempDir dir;
    if (c.content) testsupport::WriteFile(dir.File("mchk_fil"), c.content);
    EXPECT_EQ(FindHardwareId(dir.File("mchk_fil"), "1b0a"), c.result) << c.name;
  }
}

// A list that never ends (a device, a pipe) must not hold the run: only its first MiB counts.
TEST(FindHardwareId, ReadingStopsAfterTheFirstMebibyte) {
  testsupport::TempDir dir;
  std::string filler;
  while (filler.size() < (3u << 20)) filler += "0000 another machine\n";
  testsupport::WriteFile(dir.File("big"), filler);
  EXPECT_EQ(FindHardwareId(dir.File("big"), "1b0a"), HardwareListResult::kNotListed);
  testsupport::WriteFile(dir.File("late"), std::string((1u << 20) + 100, 'x') + "\n1b0a\n");
  EXPECT_EQ(FindHardwareId(dir.File("late"), "1b0a"), HardwareListResult::kNotListed);
  testsupport::WriteFile(dir.File("early"), std::string((1u << 20) - 100, 'x') + "\n1b0a\n" + filler);
  EXPECT_EQ(FindHardwareId(dir.File("early"), "1b0a"), HardwareListResult::kListed);
  if (platform::PathSeparator() == '/') {
    EXPECT_EQ(FindHardwareId("/dev/zero", "1b0a"), HardwareListResult::kNotListed);
  }
}

}  // namespace
}  // namespace runcontrol
