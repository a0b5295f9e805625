#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "tests/support/child_process.h"
#include "tests/support/log_lines.h"
#include "tests/support/permission_override.h"
#include "tests/support/result_file.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::JoinPath;
using testsupport::ReadResultFile;
using testsupport::RunProcess;

bool WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs) {
  platform::Clock& clock = platform::SystemClock();
  const uint64_t deadline = clock.MonotonicMs() + timeoutMs;
  while (!condition()) {
    if (clock.MonotonicMs() > deadline) return false;
    clock.SleepMs(50);
  }
  return true;
}

// The program copied into a directory of its own, so that the files it keeps beside itself
// (logs, mchk_fil, bmcfw.bin, the progress file) stay in the test's directory.
std::string Install(const std::string& program, const std::string& dir) {
  const std::string target = JoinPath(dir, std::filesystem::path(program).filename().string());
  std::filesystem::copy_file(program, target, std::filesystem::copy_options::overwrite_existing);
  return target;
}

class KorvaneProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::MakeDirectory(prog));
    ASSERT_TRUE(platform::MakeDirectory(work));
    korvane = Install(KORVANE_SIM, prog);
    testsupport::WriteFile(JoinPath(prog, "mchk_fil"), "supported: 0100\n");
    testsupport::WriteFile(JoinPath(work, "ExUpInfo.xml"), "<ExUpInfo><version>02.40</version></ExUpInfo>\n");
    std::string image(0x18000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 31 + (i >> 8));
    testsupport::WriteFile(JoinPath(prog, "bmcfw.bin"), image);
    imageBytes = image;
    ASSERT_EQ(RunProcess(BMCSIM_TOOL,
                         {"init", bmc, "--product-id", "0x0100", "--device-id", "0x38", "--fw-rev", "02.30",
                          "--bank-size", "0x80000"},
                         dir.path()),
              0);
    testsupport::SetEnvironment("BMCSIM_DIR", bmc);
  }
  int Korvane(const std::vector<std::string>& args) { return RunProcess(korvane, args, work); }
  testsupport::ResultTree Result(const char* name) { return ReadResultFile(JoinPath(work, name)); }
  std::string ShowBmc() {
    const std::string out = JoinPath(dir.path(), "show.json");
    RunProcess(BMCSIM_TOOL, {"show", bmc}, dir.path(), out);
    return testsupport::ReadFileOrEmpty(out);
  }

  testsupport::TempDir dir;
  std::string prog = JoinPath(dir.path(), "prog");
  std::string work = JoinPath(dir.path(), "work");
  std::string bmc = JoinPath(dir.path(), "bmc");
  std::string korvane;
  std::string imageBytes;
};

// The manager's road: a version query, the update polled with -ratio from a second process
// (a query meanwhile is busy), the result taken away as the manager does, the flash checked.
TEST_F(KorvaneProcesses, ManagerDrivenUpdateWithRatioPolls) {
  EXPECT_EQ(Korvane({"-version"}), 0);
  auto version = Result("Get_version.xml");
  EXPECT_EQ(version.resultCode, "OK");
  EXPECT_EQ(version.cmp, "Upper");
  EXPECT_EQ(version.version, "02.30");

  auto update = testsupport::StartProcess(korvane, {"-force"}, work);
  ASSERT_NE(update, nullptr);
  const std::string progress = JoinPath(prog, "Get_ratio.xml_tmp");
  ASSERT_TRUE(WaitFor([&] { return platform::FileReadable(progress); }, 60000));
  // The manager has read the first "OK" and takes the file away, as it does.
  ASSERT_TRUE(WaitFor([&] { return Result("Update_force.xml").resultCode == "OK"; }, 10000));
  platform::RemoveFile(JoinPath(work, "Update_force.xml"));

  EXPECT_EQ(Korvane({"-version"}), 0);
  EXPECT_EQ(Result("Get_version.xml").resultCode, "Busy");

  std::vector<int> seen;
  while (update->Running()) {
    EXPECT_EQ(Korvane({"-ratio"}), 0);
    const auto ratio = Result("Get_ratio.xml");
    if (ratio.resultCode == "OK") {
      const int value = std::atoi(ratio.data.c_str());
      if (seen.empty() || seen.back() != value) seen.push_back(value);
    }
    platform::SystemClock().SleepMs(100);
  }
  EXPECT_EQ(update->Wait(), 0);
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 100);
  EXPECT_FALSE(platform::FileReadable(progress));

  // Bank 2 (not running) holds the image past the kept boot block; channel 2 is back.
  const std::string flash = JoinPath(dir.path(), "bank2.bin");
  ASSERT_EQ(
      RunProcess(BMCSIM_TOOL, {"export-flash", bmc, flash, "--bank", "2", "--length", "0x18000"}, dir.path()),
      0);
  const std::string bank2 = testsupport::ReadFileOrEmpty(flash);
  ASSERT_EQ(bank2.size(), imageBytes.size());
  EXPECT_TRUE(bank2.substr(0x10000) == imageBytes.substr(0x10000));
  std::string state = ShowBmc();
  state.erase(
      std::remove_if(state.begin(), state.end(), [](char c) { return c == ' ' || c == '\n' || c == '\r'; }),
      state.end());
  EXPECT_NE(state.find("\"image_selector\":2"), std::string::npos) << state;
  EXPECT_NE(state.find("\"volatile\":{\"access\":34,\"privilege\":4}"), std::string::npos) << state;

  const auto log = testsupport::ReadLogTexts(JoinPath(prog, "Korvane_log.txt"));
  EXPECT_NE(std::find(log.begin(), log.end(), "BMCFW update was completed."), log.end());
}

TEST_F(KorvaneProcesses, ProductFlavourWithoutADriverCannotOpenIt) {
  const std::string product = Install(KORVANE_PRODUCT, prog);
  EXPECT_EQ(RunProcess(product, {"-version"}, work), 0);
  const auto log = testsupport::ReadLogTexts(JoinPath(prog, "Korvane_log1.txt"));
  if (!testsupport::MayTakeProductLock()) {
    EXPECT_EQ(Result("Get_version.xml").resultCode, "Busy");
    EXPECT_NE(std::find_if(log.begin(), log.end(),
                           [](const std::string& line) {
                             return line.find("/run/bmc-online-update") != std::string::npos &&
                                    line.find("needs root") != std::string::npos;
                           }),
              log.end());
    return;
  }
  EXPECT_EQ(Result("Get_version.xml").resultCode, "C2");
  EXPECT_NE(std::find(log.begin(), log.end(), "Microsoft IPMI Driver was not found."), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "Can't open IPMI driver."), log.end());
}

}  // namespace
