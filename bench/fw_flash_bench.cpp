// Flashes a firmware image into a dual-bank simulated BMC with the real clock, the way an update
// manager runs Korvane (-force), and prints what it cost: exchanges, wall time, CPU time per
// exchange and CPU time spent in waits (which must sleep, not spin).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/measuring_clock.h"
#include "bmcsim/model/bmc_state.h"
#include "bmcsim/model/flash_layout.h"
#include "bmcsim/store/bmc_directory.h"
#include "fwtool/main_flow.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "transport/sim/sim_driver.h"

namespace {

// The manager takes the first "OK" result away before the tool writes its final one (the tool
// waits up to 30 s for that); done here while the tool waits for it.
class ManagerClock : public bench::MeasuringClock {
 public:
  void SleepMs(uint32_t ms) override {
    std::string result;
    if (platform::ReadWholeFile("Update_force.xml", &result) && result.find(">OK<") != std::string::npos) {
      platform::RemoveFile("Update_force.xml");
    }
    MeasuringClock::SleepMs(ms);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const long kib = argc > 1 ? std::atol(argv[1]) : 2048;
  const std::string dir = "fw_flash_bench.tmp";
  platform::MakeDirectory(dir);
  if (!platform::ChangeDirectory(dir)) return 1;
  platform::RemoveFile("Update_force.xml");
  platform::WriteFileAtomically("mchk_fil", "0100\n");
  std::string image(static_cast<size_t>(kib) * 1024, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 31 + (i >> 8));
  platform::WriteFileAtomically("bmcfw.bin", image);

  bmcsim::DeviceIdentity identity;
  identity.productId = 0x0100;
  identity.deviceId = 0x38;
  bmcsim::BmcDirectory bmc("bmc");
  std::string error;
  bmcsim::BmcState state = bmcsim::FreshState(identity, bmcsim::BmcSettings{}, platform::SystemClock());
  state.firmware.downloaderBank = bmcsim::StandbyBank(state);
  if (!bmc.Initialize(state, &error)) {
    std::fprintf(stderr, "bench: %s\n", error.c_str());
    return 1;
  }

  ManagerClock clock;
  auto driver = transport::MakeSimulatedDriver("bmc", clock);
  runcontrol::RunEnvironment env;
  env.clock = &clock;
  env.console = &platform::StdConsole();
  env.vendorDriver = driver.get();
  env.lockName = "Korvane.exe-bench-" + std::to_string(platform::CurrentProcessId());
  env.lockDir = ".";

  const std::string program = platform::JoinPath(platform::CurrentDirectory(), "Korvane");
  const char* args[] = {program.c_str(), "-force"};
  const uint64_t wallStart = platform::SystemClock().MonotonicMs();
  const double cpuStart = bench::CpuSeconds();
  korvane::RunKorvane(2, args, env);
  const double cpu = bench::CpuSeconds() - cpuStart;
  const double wall = static_cast<double>(platform::SystemClock().MonotonicMs() - wallStart) / 1000.0;

  std::string log;
  bmc.ReadLog(&log, true, &error);
  size_t exchanges = 0;
  for (char c : log) exchanges += c == '\n';
  std::string result;
  platform::ReadWholeFile("Update_force.xml", &result);
  const double active = cpu - clock.cpuWhileSleeping;
  std::printf("image %ld KiB, exchanges %zu\n", kib, exchanges);
  std::printf("wall %.2f s (of which %.2f s asked-for sleeps in %u waits)\n", wall, clock.sleptMs / 1000.0,
              clock.sleeps);
  std::printf("cpu %.3f s: %.1f us per exchange (tool and in-process simulator), %.3f s while waiting\n", cpu,
              exchanges ? active * 1e6 / static_cast<double>(exchanges) : 0.0, clock.cpuWhileSleeping);
  std::printf("result: %s\n", result.find("Complete") != std::string::npos ? "Complete" : result.c_str());
  return result.find("Complete") != std::string::npos ? 0 : 1;
}
