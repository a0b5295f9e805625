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
    std::vector<std::string> lines;
    std::string text = testsupport::ReadFileOrEmpty(dir.File(name));
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line.size() >= 21 ? line.substr(21) : line);
      pos = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
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
