#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/testing/memory_console.h"
#include "platform/testing/virtual_clock.h"
#include "runcontrol/run_context.h"
#include "runcontrol/run_environment.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"

namespace runcontroltest {

// A virtual clock that keeps every pause and lets a test act during one (n counts from 1).
class ScriptedClock : public platform::VirtualClock {
 public:
  using VirtualClock::VirtualClock;
  std::function<void(unsigned n)> onSleep;
  std::vector<uint32_t> sleeps;
  void SleepMs(uint32_t ms) override {
    VirtualClock::SleepMs(ms);
    sleeps.push_back(ms);
    if (onSleep) onSleep(SleepCount());
  }
};

// A log file that is never rotated.
inline runcontrol::LogFile PlainLog(const std::string& path) {
  runcontrol::LogFile file;
  file.path = path;
  return file;
}

// Runs in a fresh current directory with a virtual clock, a memory console, a lock of their
// own; their log is run.log there.
class RunTest : public ::testing::Test {
 protected:
  RunTest() {
    static unsigned counter = 0;
    env.clock = &clock;
    env.console = &console;
    env.lockName = "runcontrol.exe-test-" + std::to_string(platform::CurrentProcessId()) + "-" +
                   std::to_string(++counter);
    env.lockDir = dir.path();
  }

  std::unique_ptr<runcontrol::RunContext> NewRun(size_t logLineBufferSize = 1024) {
    auto run = std::make_unique<runcontrol::RunContext>(env, logLineBufferSize);
    run->log.AddFile(PlainLog(dir.File("run.log")));
    return run;
  }
  // The run log without its time stamps.
  std::vector<std::string> Log() const { return testsupport::ReadLogTexts(dir.File("run.log")); }
  std::string InDir(const std::string& name) const { return dir.File(name) + platform::PathSeparator(); }

  testsupport::TempDir dir;
  testsupport::ScopedCurrentDir cwd{dir.path()};
  ScriptedClock clock{1275441273};  // 2010/06/02 01:14:33
  platform::MemoryConsole console;
  runcontrol::RunEnvironment env;
};

}  // namespace runcontroltest
