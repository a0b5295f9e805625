// Korvane through the simulated machine's Microsoft IPMI driver: the whole-request retries, the
// marshalling and the teardown, against the simulated BMC.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/fwtool/korvane_fixture.h"

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::Contains;

constexpr uint32_t kBootArea = 0x10000;
constexpr size_t kImageSize = kBootArea + 0x400;

class FwWmiPath : public KorvaneFixture {
 protected:
  // A fresh dual-bank machine with the driver and these fault rules; the update log emptied.
  void Prepare(const std::vector<std::string>& rules) {
    Machine(0x38);
    UseMicrosoftDriver();
    image = WriteImage(kImageSize);
    for (const std::string& rule : rules) bmc.AddFault(rule);
    testsupport::WriteFile(Prog("Korvane_log.txt"), "");
  }
  // The retry lines of the update log, each checked to be followed by its exchange.
  std::vector<std::string> RetryLines() const {
    const std::vector<std::string> log = UpdateLog();
    std::vector<std::string> lines;
    for (size_t i = 0; i < log.size(); ++i) {
      if (log[i].rfind("Abnormal CompletionCode:", 0) != 0) continue;
      lines.push_back(log[i]);
      EXPECT_TRUE(i + 2 < log.size() && log[i + 1].rfind("  request  = ", 0) == 0 &&
                  log[i + 2].rfind("  response = ", 0) == 0)
          << log[i];
    }
    return lines;
  }
  static std::vector<std::string> Expected(uint8_t code, int attempts) {
    std::vector<std::string> lines;
    for (int i = 0; i < attempts; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "Abnormal CompletionCode:%2.2Xh Retry Count:%d", code, i);
      lines.push_back(line);
    }
    return lines;
  }
  // Bank 2 after a clean update: its old boot area, the image above it, erased cells after.
  Bytes Programmed() const {
    Bytes bank = OldFirmware(2, bankSize);
    std::fill(bank.begin() + kBootArea, bank.end(), 0xFF);
    std::copy(image.begin() + kBootArea, image.end(), bank.begin() + kBootArea);
    return bank;
  }
  void ExpectChannelRestored() const {
    EXPECT_EQ(bmc.Channel2(false), testsupport::SimChannelAccess{});
    EXPECT_EQ(bmc.Channel2(true), testsupport::SimChannelAccess{});
  }

  Bytes image;
};

// Nine non-zero codes in a row are retried away on any request of the update.
TEST_F(FwWmiPath, UpdateSurvivesNineCodesPerRequest) {
  struct Case {
    const char* name;
    std::string rule;
    uint8_t code;
  } cases[] = {
      {"Get Device ID", "netfn=0x06 cmd=0x01 count=9 cc=0xff", 0xFF},
      {"Get Channel Access", "netfn=0x06 cmd=0x41 count=9 cc=0xc3", 0xC3},
      {"disabling channel 2", "netfn=0x06 cmd=0x40 count=9 cc=0xff", 0xFF},
      // A probe whose chip does not echo moves on; the fitted chip still answers.
      {"FW ID Chip, ten times", "netfn=0x08 cmd=0x00 count=10 cc=0xff", 0xFF},
      {"erase busy", "netfn=0x08 cmd=0x01 skip=1 count=9 cc=0xc0", 0xC0},
      {"write", "netfn=0x08 cmd=0x02 skip=5 count=9 cc=0xff", 0xFF},
      {"verify read", "netfn=0x08 cmd=0x03 skip=5 count=9 cc=0xff", 0xFF},
      {"image selector", "netfn=0x08 cmd=0x04 count=9 cc=0xce", 0xCE},
      {"restoring channel 2", "netfn=0x06 cmd=0x40 skip=1 count=9 cc=0xc5", 0xC5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare({c.rule});
    ASSERT_EQ(Run({"-force"}), 0);
    EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
    EXPECT_TRUE(bmc.FlashBytes(2) == Programmed());
    EXPECT_TRUE(bmc.FlashBytes(1) == OldFirmware(1, bankSize));
    EXPECT_EQ(bmc.Selectors().imageSelector, 2);
    ExpectChannelRestored();
    const bool tenTimes = std::string(c.name).find("ten times") != std::string::npos;
    EXPECT_EQ(RetryLines(), Expected(c.code, tenTimes ? 10 : 9));
    EXPECT_THAT(UpdateLog(), Contains("Microsoft IPMI Driver was found."));
  }
}

// The tenth code in a row is the answer: the step fails with its code after ten retry lines,
// channel 2 comes back and the image selector stays.
TEST_F(FwWmiPath, TenthCodeEndsTheUpdateCleanly) {
  struct Case {
    const char* name;
    std::string rule;
    uint8_t code;
    const char* result;
    bool flashTouched;
  } cases[] = {
      {"Get Device ID", "netfn=0x06 cmd=0x01 count=10 cc=0xff", 0xFF, "C15", false},
      {"Get Channel Access", "netfn=0x06 cmd=0x41 count=10 cc=0xff", 0xFF, "C17", false},
      {"disabling channel 2", "netfn=0x06 cmd=0x40 count=10 cc=0xc0", 0xC0, "C18", false},
      {"erase", "netfn=0x08 cmd=0x01 skip=2 count=10 cc=0xff", 0xFF, "C8", true},
      {"image selector", "netfn=0x08 cmd=0x04 count=10 cc=0xff", 0xFF, "C12", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare({c.rule});
    ASSERT_EQ(Run({"-force"}), 0);
    EXPECT_EQ(Result("Update_force.xml").resultCode, c.result);
    EXPECT_EQ(RetryLines(), Expected(c.code, 10));
    EXPECT_EQ(bmc.Selectors().imageSelector, 1);
    ExpectChannelRestored();
    EXPECT_TRUE(bmc.FlashBytes(1) == OldFirmware(1, bankSize));
    EXPECT_EQ(bmc.FlashBytes(2) == OldFirmware(2, bankSize), !c.flashTouched);
  }
}

// A failed method call tears the path down: the step fails, the path is opened once more and
// channel 2 restored over it, and nothing else reaches the BMC.
TEST_F(FwWmiPath, FailedMethodCallStillRestoresChannel2) {
  struct Case {
    const char* name;
    std::string rule;
    const char* result;
  } cases[] = {
      {"disabling channel 2", "netfn=0x06 cmd=0x40 wmi=fail", "C18"},
      {"erase", "netfn=0x08 cmd=0x01 skip=2 wmi=fail", "C8"},
      {"write", "netfn=0x08 cmd=0x02 skip=20 wmi=fail", "C9"},
      {"verify read", "netfn=0x08 cmd=0x03 skip=10 wmi=fail", "C10"},
      {"image selector", "netfn=0x08 cmd=0x04 wmi=fail", "C12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare({c.rule});
    ASSERT_EQ(Run({"-force"}), 0);
    EXPECT_EQ(Result("Update_force.xml").resultCode, c.result);
    EXPECT_EQ(bmc.Selectors().imageSelector, 1);
    ExpectChannelRestored();
    const std::vector<std::string> lines = bmc.LogLines();
    const auto failed = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.find("-> status 10 (method call failed)") != std::string::npos;
    });
    ASSERT_NE(failed, lines.end());
    EXPECT_EQ(std::vector<std::string>(failed + 1, lines.end()),
              (std::vector<std::string>{"18 40 02 A2 04 -> 1C 40 00", "18 41 02 80 -> 1C 41 00 22 04"}));
    EXPECT_TRUE(RetryLines().empty());
    EXPECT_EQ(console.Output(), "");  // no "hr:" line: nothing was prepared on the torn-down path
  }
  // The lock went with the run, and the next run opens the driver afresh.
  Prepare({});
  ASSERT_EQ(Run({"-force"}), 0);
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
  EXPECT_TRUE(bmc.FlashBytes(2) == Programmed());
}

}  // namespace
}  // namespace korvane
