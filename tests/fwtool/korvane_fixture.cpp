#include "tests/fwtool/korvane_fixture.h"

#include "fwtool/main_flow.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/log_lines.h"
#include "transport/sim/sim_driver.h"
#include "transport/sim/sim_wmi_method.h"

namespace korvane {
namespace {

std::string MakeDirs(const testsupport::TempDir& dir) {
  platform::MakeDirectory(dir.File("prog"));
  platform::MakeDirectory(dir.File("work"));
  return dir.File("work");
}

}  // namespace

KorvaneFixture::KorvaneFixture() : cwd(MakeDirs(dir)) {
  Machine(0x38);
  testsupport::WriteFile(Prog("mchk_fil"), "// supported boards\nBoard 0100 rev A\n");
  PackageVersion("01.10");
  driver = transport::MakeSimulatedDriver(bmc.dir(), clock);
  env.clock = &clock;
  env.console = &console;
  env.vendorDriver = driver.get();
  // A lock of this process's own, so parallel test processes never meet.
  env.lockName = "Korvane.exe-test-" + std::to_string(platform::CurrentProcessId());
  env.lockDir = dir.path();
}

KorvaneFixture::~KorvaneFixture() = default;

void KorvaneFixture::UseMicrosoftDriver() {
  bmc.SetMicrosoftDriver(true);
  env.openWmiPath = transport::MakeSimulatedWmiOpener(bmc.dir(), clock);
}

int KorvaneFixture::Run(const std::vector<std::string>& args, const std::string& stdinText) {
  return RunAs(Prog("Korvane"), args, stdinText);
}

int KorvaneFixture::RunAs(const std::string& program, const std::vector<std::string>& args,
                          const std::string& stdinText) {
  console = platform::MemoryConsole(stdinText);
  std::vector<const char*> argv = {program.c_str()};
  for (const auto& a : args) argv.push_back(a.c_str());
  return RunKorvane(static_cast<int>(argv.size()), argv.data(), env);
}

std::vector<std::string> KorvaneFixture::UpdateLog() const {
  return testsupport::ReadLogTexts(Prog("Korvane_log.txt"));
}

std::vector<std::string> KorvaneFixture::QueryLog() const {
  return testsupport::ReadLogTexts(Prog("Korvane_log1.txt"));
}

void KorvaneFixture::Machine(uint8_t deviceId, testsupport::SimFirmware firmware, uint32_t dualBankSize,
                             bool oldFirmware) {
  testsupport::SimIdentity identity;
  identity.deviceId = deviceId;
  identity.firmware1 = 0x01;
  identity.firmware2 = 0x05;
  const bool dual = deviceId == 0x38 || deviceId == 0x39 || deviceId == 0x3A;
  bankSize = dual ? dualBankSize : kSingleBankSize;
  bankCount = dual ? 2 : 1;
  firmware.bankSize = bankSize;
  bmc.Init(identity, firmware);
  if (!oldFirmware) return;
  for (uint8_t bank = 1; bank <= (dual ? 2 : 1); ++bank) bmc.LoadFlash(bank, OldFirmware(bank, bankSize));
}

std::vector<uint8_t> KorvaneFixture::OldFirmware(uint8_t bank, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + bank * 101) ^ (i >> 9));
  return bytes;
}

std::vector<uint8_t> KorvaneFixture::WriteImage(size_t size) const {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>((i * 13 + 5) ^ (i >> 11) ^ 0x5A);
  testsupport::WriteFile(Prog("bmcfw.bin"), std::string(image.begin(), image.end()));
  return image;
}

void KorvaneFixture::PackageVersion(const std::string& version) const {
  testsupport::WriteFile(Work("ExUpInfo.xml"),
                         "<ExUpInfo><package><version>" + version + "</version></package></ExUpInfo>\n");
}

}  // namespace korvane
