#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/process.h"
#include "platform/testing/memory_console.h"
#include "platform/testing/virtual_clock.h"
#include "runcontrol/run_environment.h"
#include "sdrtool/sdr_run.h"
#include "tests/sdrtool/sdr_error_printing.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"

namespace veltrop {

// What every run context of a unit test needs: a fresh current directory, a virtual clock,
// a memory console and a lock of this test process's own. No BMC unless a fixture adds one.
class OfflineRunTest : public ::testing::Test {
 protected:
  OfflineRunTest() {
    env.clock = &clock;
    env.console = &console;
    env.lockName = "veltrop.exe-unit-" + std::to_string(platform::CurrentProcessId());
    env.lockDir = dir.path();
  }

  void Write(const std::string& name, const std::string& content) const {
    testsupport::WriteFile(dir.File(name), content);
  }
  // A run context with the given mode already applied.
  std::unique_ptr<SdrRun> NewRun(SdrMode mode) {
    auto run = std::make_unique<SdrRun>(env);
    run->settings.mode = mode;
    run->ApplySettings();
    return run;
  }
  // Log lines without their time stamps.
  std::vector<std::string> Log(const char* name = kMainLog) const {
    return testsupport::ReadLogTexts(dir.File(name));
  }

  testsupport::TempDir dir;
  testsupport::ScopedCurrentDir cwd{dir.path()};
  platform::VirtualClock clock{1275441273};  // 2010/06/02 01:14:33
  platform::MemoryConsole console;
  runcontrol::RunEnvironment env;
};

}  // namespace veltrop
