#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/testing/memory_console.h"
#include "platform/testing/virtual_clock.h"
#include "runcontrol/run_environment.h"
#include "tests/support/result_file.h"
#include "tests/support/sim_bmc.h"
#include "tests/support/temp_dir.h"
#include "transport/ipmi_driver.h"

namespace korvane {

// A Korvane run in this process, on a virtual clock, against a simulated BMC. The program lies
// in prog/ (its logs, mchk_fil, bmcfw.bin and progress file beside it); the run's current
// directory is work/ (result files, ExUpInfo.xml). The BMC's hardware ID is listed.
class KorvaneFixture : public ::testing::Test {
 public:
  KorvaneFixture();
  ~KorvaneFixture() override;

  // A whole invocation, argv[0] being the program in prog/. Returns the exit status.
  int Run(const std::vector<std::string>& args, const std::string& stdinText = "");
  int RunAs(const std::string& program, const std::vector<std::string>& args,
            const std::string& stdinText = "");

  std::string Prog(const std::string& name) const { return dir.File("prog/" + name); }
  std::string Work(const std::string& name) const { return dir.File("work/" + name); }
  // The update log (beside the program) or the query log, without stamps.
  std::vector<std::string> UpdateLog() const;
  std::vector<std::string> QueryLog() const;
  testsupport::ResultTree Result(const std::string& name) const {
    return testsupport::ReadResultFile(Work(name));
  }
  void PackageVersion(const std::string& version) const;
  // A fresh simulated BMC of this kind, its banks holding an older firmware (OldFirmware).
  // Without old firmware the banks start erased, which keeps the simulated state small.
  void Machine(uint8_t deviceId, testsupport::SimFirmware firmware = {},
               uint32_t dualBankSize = kDualBankSize, bool oldFirmware = true);
  // The bytes a bank held before the run.
  static std::vector<uint8_t> OldFirmware(uint8_t bank, size_t size);
  // An image of this size, written as bmcfw.bin beside the program.
  std::vector<uint8_t> WriteImage(size_t size) const;
  // Gives the machine the Microsoft IPMI driver and the run its simulated opener, so requests
  // go through the WMI path under the program's own retry policy; again after Machine(), which
  // starts a fresh BMC without it.
  void UseMicrosoftDriver();

  testsupport::TempDir dir;
  testsupport::ScopedCurrentDir cwd;
  platform::VirtualClock clock;
  platform::MemoryConsole console;
  testsupport::SimBmc bmc{dir.File("bmc")};
  // Small banks keep dual-bank updates quick; a single-bank device always spans 4 MiB.
  static constexpr uint32_t kDualBankSize = 0x80000;
  static constexpr uint32_t kSingleBankSize = 0x400000;
  uint32_t bankSize = kDualBankSize;
  uint8_t bankCount = 2;
  std::unique_ptr<transport::IpmiDriver> driver;
  runcontrol::RunEnvironment env;
};

}  // namespace korvane
