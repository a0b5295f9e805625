#include "fwtool/command_line.h"

#include <vector>

#include "runcontrol/switch_parser.h"

namespace korvane {
namespace {

using runcontrol::SwitchRule;
using runcontrol::SwitchValue;

}  // namespace

int64_t ParseWaitSeconds(const std::string& text) {
  for (size_t i = text.size(); i-- > 0;) {
    const std::string tail = text.substr(i);
    if (tail[0] != '0' && runcontrol::ReadLeadingNumber(tail).value == 0) return -1;
  }
  const runcontrol::LeadingNumber number = runcontrol::ReadLeadingNumber(text);
  return number.overflow ? -2 : number.value;
}

bool ParseCommandLine(int argc, const char* const* argv, FwSettings* s) {
  bool modeGiven = false, bootGiven = false, bothGiven = false, waitGiven = false;
  auto mode = [&](RunMode m, bool refusedAfterFlags) {
    return [&, m, refusedAfterFlags](const std::string*) {
      if (modeGiven || (refusedAfterFlags && (bootGiven || bothGiven))) return false;
      modeGiven = true;
      s->mode = m;
      return true;
    };
  };
  const std::vector<SwitchRule> rules = {
      {"-both", false, SwitchValue::kNone,
       [&](const std::string*) {
         if (bothGiven) return false;
         bothGiven = s->BothUpdate = true;
         return true;
       }},
      {"-boot", false, SwitchValue::kNone,
       [&](const std::string*) {
         if (bootGiven) return false;
         bootGiven = s->BootBlockUpdate = true;
         return true;
       }},
      {"-version", false, SwitchValue::kNone, mode(RunMode::GetVersion, true)},
      {"-normal", false, SwitchValue::kNone, mode(RunMode::UpdateNormal, false)},
      {"-force", false, SwitchValue::kNone, mode(RunMode::UpdateForce, false)},
      {"-ratio", false, SwitchValue::kNone, mode(RunMode::GetRatio, true)},
      {"-16", false, SwitchValue::kNone,
       [&](const std::string*) {
         s->BlockSize = 16;
         return true;
       }},
      {"-wait", true, SwitchValue::kRequired,
       [&](const std::string* value) {
         if (waitGiven) return false;
         waitGiven = true;
         s->WaitSeconds = ParseWaitSeconds(*value);
         return true;
       }},
  };
  return runcontrol::ParseSwitches(rules, argc, argv, 1) && s->WaitSeconds >= 0;
}

}  // namespace korvane
