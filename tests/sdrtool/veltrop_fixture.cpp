#include "tests/sdrtool/veltrop_fixture.h"

#include "platform/testing/memory_console.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/process.h"
#include "sdrtool/main_flow.h"
#include "tests/support/log_lines.h"
#include "transport/sim/sim_driver.h"
#include "transport/sim/sim_wmi_method.h"

namespace veltrop {

VeltropFixture::VeltropFixture() {
  bmc.Init();
  Write("mchk_fil", "// supported boards\nBoard 0100 rev A\n");
  driver = transport::MakeSimulatedDriver(bmc.dir(), clock);
  env.clock = &clock;
  env.console = &console;
  env.vendorDriver = driver.get();
  // A lock of this process's own, so parallel test processes never meet.
  env.lockName = "veltrop.exe-test-" + std::to_string(platform::CurrentProcessId());
  env.lockDir = dir.path();
}

VeltropFixture::~VeltropFixture() = default;

void VeltropFixture::UseMicrosoftDriver() {
  bmc.SetMicrosoftDriver(true);
  env.openWmiPath = transport::MakeSimulatedWmiOpener(bmc.dir(), clock);
}

int VeltropFixture::Run(const std::vector<std::string>& args, const std::string& stdinText) {
  console = platform::MemoryConsole(stdinText);
  std::vector<const char*> argv = {"veltrop"};
  for (const auto& a : args) argv.push_back(a.c_str());
  return RunVeltrop(static_cast<int>(argv.size()), argv.data(), env);
}

std::unique_ptr<SdrRun> VeltropFixture::NewRun(SdrMode mode) {
  auto run = std::make_unique<SdrRun>(env);
  run->settings.mode = mode;
  run->ApplySettings();
  return run;
}

std::string VeltropFixture::Read(const std::string& name) const {
  return testsupport::ReadFileOrEmpty(File(name));
}

void VeltropFixture::Write(const std::string& name, const std::string& content) const {
  testsupport::WriteFile(File(name), content);
}

std::vector<std::string> VeltropFixture::LogLines(const std::string& logName) const {
  return testsupport::ReadLogTexts(File(logName));
}

bool VeltropFixture::LogHas(const std::string& text, const std::string& logName) const {
  for (const auto& line : LogLines(logName)) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace veltrop
