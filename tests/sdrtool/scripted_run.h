#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/process.h"
#include "platform/virtual_clock.h"
#include "sdrtool/veltrop_run.h"
#include "tests/sdrtool/scripted_driver.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"

namespace veltrop {

// A run context in a fresh current directory whose BMC answers from a script.
class ScriptedRunTest : public ::testing::Test {
 protected:
  ScriptedRunTest() {
    env.clock = &clock;
    env.console = &console;
    env.vendorDriver = &driver;
    env.lockName = "veltrop.exe-unit-" + std::to_string(platform::CurrentProcessId());
    env.lockDir = dir.path();
    env.exitProcess = [](int status) { FAIL() << "process exit " << status; };
  }
  std::unique_ptr<VeltropRun> NewRun(SdrMode mode) {
    auto run = std::make_unique<VeltropRun>(env);
    run->settings.mode = mode;
    return run;
  }
  // Log lines without their time stamps.
  std::vector<std::string> Log(const char* name = kMainLog) const {
    return testsupport::ReadLogTexts(dir.File(name));
  }
  void Answer(std::vector<uint8_t> bytes) {
    driver.answers.push_back({transport::kExchangeOk, std::move(bytes)});
  }
  void Fail(transport::ExchangeStatus status) { driver.answers.push_back({status, {}}); }

  testsupport::TempDir dir;
  testsupport::ScopedCurrentDir cwd{dir.path()};
  platform::VirtualClock clock{1275441273};  // 2010/06/02 01:14:33
  platform::MemoryConsole console;
  ScriptedDriver driver;
  VeltropEnv env;
};

}  // namespace veltrop
