#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "tests/support/child_process.h"
#include "tests/support/permission_override.h"
#include "tests/support/result_file.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::JoinPath;
using testsupport::ReadResultFile;
using testsupport::RunProcess;

// Waits on the real clock until the file exists; false after the deadline.
bool WaitForFile(const std::string& path, uint32_t timeoutMs) {
  platform::Clock& clock = platform::SystemClock();
  const uint64_t deadline = clock.MonotonicMs() + timeoutMs;
  while (!platform::FileReadable(path)) {
    if (clock.MonotonicMs() > deadline) return false;
    clock.SleepMs(50);
  }
  return true;
}

class VeltropProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::MakeDirectory(work));
    testsupport::WriteFile(JoinPath(pkg, "ExUpInfo.xml"), "<ExUpInfo><version>1.00</version></ExUpInfo>\n");
    testsupport::WriteFile(JoinPath(work, "mchk_fil"), "supported: 0100\n");
    std::string sdr;
    ASSERT_TRUE(platform::ReadWholeFile(JoinPath(BMC_EXAMPLES_DIR, "bmcsdr_v2.sdr"), &sdr));
    testsupport::WriteFile(JoinPath(work, "new.sdr"), sdr);
    ASSERT_EQ(RunProcess(BMCSIM_TOOL, {"init", bmc, "--product-id", "0x0100"}, pkg), 0);
    // A repository captured from a real server, without a version record of ours.
    ASSERT_EQ(RunProcess(BMCSIM_TOOL, {"load-sdr", bmc, JoinPath(BMC_REAL_SDR_DIR, "server07.bin")}, pkg), 0);
    testsupport::SetEnvironment("BMCSIM_DIR", bmc);
  }
  int Veltrop(const std::vector<std::string>& args) { return RunProcess(VELTROP_SIM, args, work); }
  testsupport::ResultTree Result(const char* name) { return ReadResultFile(JoinPath(pkg, name)); }

  testsupport::TempDir dir;
  std::string pkg = dir.path();
  std::string work = JoinPath(pkg, "sdr");
  std::string bmc = JoinPath(pkg, "bmc");
};

TEST_F(VeltropProcesses, SecondUpdateVersionQueryAndRatioPollsDuringAnUpdate) {
  auto update = testsupport::StartProcess(VELTROP_SIM, {"-update", "-sdr", "new.sdr"}, work);
  ASSERT_NE(update, nullptr);
  const std::string progress = JoinPath(pkg, "Get_ratio.xml_tmp");
  ASSERT_TRUE(WaitForFile(progress, 60000));

  EXPECT_EQ(Veltrop({"-update", "-force", "-sdr", "new.sdr"}), 0);
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Duplex");
  EXPECT_TRUE(platform::FileReadable(progress));

  EXPECT_EQ(Veltrop({"-version", "-sdr", "new.sdr"}), 0);
  EXPECT_EQ(Result("Get_version.xml").resultCode, "Busy");

  EXPECT_EQ(Veltrop({"-ratio"}), 0);
  auto ratio = Result("Get_ratio.xml");
  EXPECT_EQ(ratio.resultCode, "OK");
  ASSERT_FALSE(ratio.data.empty());
  int value = std::atoi(ratio.data.c_str());
  EXPECT_GE(value, 0);
  EXPECT_LE(value, 100);

  EXPECT_TRUE(update->Running());
  EXPECT_EQ(update->Wait(), 0);
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "Complete");
  EXPECT_FALSE(platform::FileReadable(progress));

  EXPECT_EQ(Veltrop({"-ratio"}), 0);
  ratio = Result("Get_ratio.xml");
  EXPECT_EQ(ratio.resultCode, "No-Command");
  EXPECT_EQ(ratio.data, "");

  // The version query now finds the file's version in the BMC.
  EXPECT_EQ(Veltrop({"-version", "-sdr", "new.sdr"}), 0);
  auto version = Result("Get_version.xml");
  EXPECT_EQ(version.resultCode, "OK");
  EXPECT_EQ(version.cmp, "Even");
}

// Each simulated machine has its own lock: an update against one BMC does not keep an update
// against another one out, while a second update against the same BMC is refused.
TEST_F(VeltropProcesses, SimulatedMachinesLockEachOnItsOwn) {
  const std::string other = JoinPath(pkg, "other-bmc");
  ASSERT_EQ(RunProcess(BMCSIM_TOOL, {"init", other, "--product-id", "0x0100"}, pkg), 0);
  ASSERT_EQ(RunProcess(BMCSIM_TOOL, {"load-sdr", other, JoinPath(BMC_REAL_SDR_DIR, "server07.bin")}, pkg), 0);
  // The first update holds its lock to its end, at least 40 s (30-second rule, end pause).
  auto update = testsupport::StartProcess(VELTROP_SIM, {"-update", "-sdr", "new.sdr"}, work);
  ASSERT_NE(update, nullptr);
  ASSERT_TRUE(WaitForFile(JoinPath(pkg, "Get_ratio.xml_tmp"), 60000));

  EXPECT_EQ(Veltrop({"-backup", "same.bak"}), 0);
  EXPECT_TRUE(update->Running());
  std::string log;
  ASSERT_TRUE(platform::ReadWholeFile(JoinPath(work, "veltrop.log"), &log));
  EXPECT_NE(log.find("The update/backup has already been being executed. "), std::string::npos);
  EXPECT_FALSE(platform::FileReadable(JoinPath(work, "same.bak")));

  testsupport::SetEnvironment("BMCSIM_DIR", other);
  EXPECT_EQ(Veltrop({"-backup", "other.bak"}), 0);
  EXPECT_TRUE(platform::FileReadable(JoinPath(work, "other.bak")));
  testsupport::SetEnvironment("BMCSIM_DIR", bmc);
  EXPECT_EQ(update->Wait(), 0);
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "Complete");
}

TEST_F(VeltropProcesses, ProductFlavourWithoutADriverCannotOpenIt) {
  EXPECT_EQ(RunProcess(VELTROP_PRODUCT, {"-version", "-sdr", "new.sdr"}, work), 0);
  std::string log;
  ASSERT_TRUE(platform::ReadWholeFile(JoinPath(work, "veltrop_version.log"), &log));
  if (!testsupport::MayTakeProductLock()) {
    EXPECT_EQ(Result("Get_version.xml").resultCode, "Busy");
    EXPECT_NE(log.find("/run/bmc-online-update"), std::string::npos) << log;
    EXPECT_NE(log.find("needs root"), std::string::npos) << log;
    return;
  }
  EXPECT_EQ(Result("Get_version.xml").resultCode, "SDRC03");
  EXPECT_NE(log.find("Can't open IPMI driver."), std::string::npos);
  // Without a Microsoft IPMI driver (none on Linux, none under Wine) the vendor path is taken.
  EXPECT_NE(log.find("Use QYX Driver"), std::string::npos);
}

}  // namespace
