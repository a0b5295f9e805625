// Programs a large SDR file into the simulated BMC with the real clock, the way an update
// manager runs veltrop (-update -force), and prints what it cost: exchanges, wall time, CPU
// time per exchange and CPU time spent in waits (which must sleep, not spin).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/measuring_clock.h"
#include "bmcsim/model/bmc_state.h"
#include "bmcsim/store/bmc_directory.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "sdrtool/main_flow.h"
#include "transport/sim/sim_driver.h"

namespace {

// A full sensor record (type 01h) of the SDR text format, 48 record bytes.
std::string SensorRecord(int n) {
  char text[512];
  std::snprintf(
      text, sizeof text,
      "_SDR_TYPE 01\n_REC_LEN 30\n"
      "%02X%02X 51 01 2B\n20 00 %02X 07 01 7F 68 01 01 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 "
      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
      n & 0xFF, n >> 8, n & 0xFF);
  return text;
}

std::string SdrFile(int records) {
  std::string text =
      "_LF_NAME 'BENCH'\n_LF_VERSION '1.0'\n_LF_FMT_VER '1.5'\n_SDR_VERSION '1.50'\n_SDR\n(\n"
      "_START_ADDR 0000\n_DATA_LEN 0000\n_NVS_TYPE 'IMBDEVICE'\n_DEV_BUS 00\n_DEV_ADDRESS 00\n";
  for (int i = 1; i <= records; ++i) text += SensorRecord(i);
  return text + ")\n";
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 300;
  const std::string dir = "sdr_program_bench.tmp";
  platform::MakeDirectory(dir);
  if (!platform::ChangeDirectory(dir)) return 1;
  platform::WriteFileAtomically("mchk_fil", "0100\n");
  platform::WriteFileAtomically("big.sdr", SdrFile(records));

  bmcsim::DeviceIdentity identity;
  identity.productId = 0x0100;
  bmcsim::BmcDirectory bmc("bmc");
  std::string error;
  bmcsim::BmcState state = bmcsim::FreshState(identity, bmcsim::BmcSettings{}, platform::SystemClock());
  // A BMC in the field holds a repository already: one management controller locator.
  state.active.records.push_back({0x01, 0x00, 0x51, 0x12, 0x0E, 0x20, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00,
                                  0x2E, 0x01, 0x00, 0xC3, 'B', 'M', 'C'});
  if (!bmc.Initialize(state, &error)) {
    std::fprintf(stderr, "bench: %s\n", error.c_str());
    return 1;
  }

  bench::MeasuringClock clock;
  auto driver = transport::MakeSimulatedDriver("bmc", clock);
  runcontrol::RunEnvironment env;
  env.clock = &clock;
  env.console = &platform::StdConsole();
  env.vendorDriver = driver.get();
  env.lockName = "veltrop.exe-bench-" + std::to_string(platform::CurrentProcessId());
  env.lockDir = ".";

  const char* args[] = {"veltrop", "-update", "-force", "-sdr", "big.sdr"};
  const uint64_t wallStart = platform::SystemClock().MonotonicMs();
  const double cpuStart = bench::CpuSeconds();
  veltrop::RunVeltrop(5, args, env);
  const double cpu = bench::CpuSeconds() - cpuStart;
  const double wall = static_cast<double>(platform::SystemClock().MonotonicMs() - wallStart) / 1000.0;

  std::string log;
  bmc.ReadLog(&log, false, &error);
  size_t exchanges = 0;
  for (char c : log) exchanges += c == '\n';
  std::string result;
  platform::ReadWholeFile("Update_force.xml", &result);
  const double active = cpu - clock.cpuWhileSleeping;
  std::printf("records %d, exchanges %zu\n", records, exchanges);
  std::printf("wall %.2f s (of which %.2f s asked-for sleeps in %u waits)\n", wall, clock.sleptMs / 1000.0,
              clock.sleeps);
  std::printf("cpu %.3f s: %.1f us per exchange (tool and in-process simulator), %.3f s while waiting\n", cpu,
              exchanges ? active * 1e6 / static_cast<double>(exchanges) : 0.0, clock.cpuWhileSleeping);
  std::printf("result: %s\n", result.find("Complete") != std::string::npos ? "Complete" : result.c_str());
  return result.find("Complete") != std::string::npos ? 0 : 1;
}
