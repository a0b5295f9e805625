#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/testing/memory_console.h"
#include "platform/testing/virtual_clock.h"
#include "runcontrol/run_environment.h"
#include "sdrtool/sdr_run.h"
#include "tests/sdrtool/sdr_error_printing.h"
#include "tests/support/result_file.h"
#include "tests/support/sim_bmc.h"
#include "tests/support/temp_dir.h"
#include "transport/ipmi_driver.h"

namespace veltrop {

// A veltrop run in this process, in a fresh current directory, on a virtual clock, against a
// simulated BMC whose hardware ID is listed in mchk_fil.
class VeltropFixture : public ::testing::Test {
 protected:
  VeltropFixture();
  ~VeltropFixture() override;

  // A whole invocation: argv[0] is "veltrop", then the given arguments. Returns the exit status.
  int Run(const std::vector<std::string>& args, const std::string& stdinText = "");
  // A run context for calling operations directly, with the given mode already set.
  std::unique_ptr<SdrRun> NewRun(SdrMode mode = ModeUpdate);

  std::string File(const std::string& name) const { return dir.File(name); }
  std::string Read(const std::string& name) const;
  std::vector<std::string> LogLines(const std::string& logName = kMainLog) const;  // without time stamps
  bool LogHas(const std::string& text, const std::string& logName = kMainLog) const;
  testsupport::ResultTree Result(const std::string& name) const {
    return testsupport::ReadResultFile(File(name));
  }
  void Write(const std::string& name, const std::string& content) const;
  // Gives the machine the Microsoft IPMI driver and the run its simulated opener, so requests
  // go through the WMI path under the program's own retry policy.
  void UseMicrosoftDriver();

  testsupport::TempDir dir;
  testsupport::ScopedCurrentDir cwd{dir.path()};
  platform::VirtualClock clock;
  platform::MemoryConsole console;
  testsupport::SimBmc bmc{dir.File("bmcsim")};
  std::unique_ptr<transport::IpmiDriver> driver;
  runcontrol::RunEnvironment env;
};

}  // namespace veltrop
