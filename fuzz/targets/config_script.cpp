// The configuration script loader and interpreter, programming into an honest in-memory BMC.
// Input: the script, then up to four SDR files it may name, each after a NUL byte as
// "name\ncontent" (names of letters, digits, '.', '_' and '-' only).
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzzed_bmc.h"
#include "fuzz/support/sdr_bmc.h"
#include "fuzz/support/workspace.h"
#include "sdrtool/config_script/config_script.h"

namespace {

bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > 31 || name == "." || name == "..") return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  workspace.Clear();
  const std::vector<std::string> parts = fuzzing::SplitAtNul(data, size, 5);
  workspace.Write("fuzz.cfg", parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    const size_t newline = parts[i].find('\n');
    if (newline == std::string::npos) continue;
    const std::string name = parts[i].substr(0, newline);
    if (PlainName(name) && name != "fuzz.cfg") workspace.Write(name, parts[i].substr(newline + 1));
  }
  fuzzing::InputBytes honest(nullptr, 0);
  fuzzing::BoundedClock bmcClock;
  fuzzing::FuzzedBmcDriver bmc(fuzzing::SdrToolBmc(bmcClock, true), bmcClock, honest);
  fuzzing::RunFrame frame(&bmc);
  auto run = fuzzing::OfflineSdrRun(frame.env, veltrop::ModeForce);
  veltrop::RunConfigScript(*run, "fuzz.cfg");
  return 0;
}
