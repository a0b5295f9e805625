#include "sdrtool/command_line.h"

#include <vector>

#include "runcontrol/switch_parser.h"

namespace veltrop {
namespace {

using runcontrol::SwitchRule;
using runcontrol::SwitchValue;

std::vector<SwitchRule> SwitchTable(RunSettings* s) {
  auto mode = [s](SdrMode mode) {
    return [s, mode](const std::string*) {
      if (s->mode != ModeNone) return false;
      s->mode = mode;
      return true;
    };
  };
  auto input = [s](InputKind input, std::string* name) {
    return [s, input, name](const std::string* value) {
      if (s->input != InputNone) return false;
      s->input = input;
      if (value) *name = *value;
      return true;
    };
  };
  auto flag = [](bool* target) {
    return [target](const std::string*) {
      *target = true;
      return true;
    };
  };
  // A number that is not given keeps its default; a value beginning with "-" is never taken.
  auto number = [](int32_t* target) {
    return [target](const std::string* value) {
      if (value) *target = runcontrol::ConvertNumber(*value);
      return true;
    };
  };
  return {
      {"-version", false, SwitchValue::kNone, mode(ModeVersion)},
      {"-update", false, SwitchValue::kNone, mode(ModeUpdate)},
      {"-direct", false, SwitchValue::kNone,
       [s](const std::string*) {
         if (s->mode != ModeNone) return false;
         s->mode = ModeUpdate;
         s->DirectMode = s->ConsoleEcho = true;
         return true;
       }},
      {"-force", false, SwitchValue::kNone, flag(&s->ForceRequested)},
      {"-ratio", false, SwitchValue::kNone, mode(ModeRatio)},
      {"-backup", false, SwitchValue::kOptional,
       [s](const std::string* value) {
         if (s->mode != ModeNone) return false;
         s->mode = ModeBackup;
         s->ConsoleEcho = true;
         if (value) s->BackupFileName = *value;
         return true;
       }},
      {"-sdr", false, SwitchValue::kOptional, input(InputSdr, &s->SdrFileName)},
      {"-cfg", false, SwitchValue::kOptional,
       [s](const std::string* value) {
         if (s->input != InputNone) return false;
         s->input = InputCfg;
         if (value) s->CfgFileName = *value;
         return true;
       }},
      {"-bin", false, SwitchValue::kOptional, input(InputBin, &s->BinFileName)},
      {"-display", false, SwitchValue::kNone, flag(&s->ConsoleEcho)},
      {"-test", false, SwitchValue::kNone, flag(&s->TraceEnabled)},
      {"-test2", false, SwitchValue::kNone, flag(&s->ResultTraceEnabled)},
      {"-ff_retry", false, SwitchValue::kOptional, number(&s->retry.ffRetries)},
      {"-other_retry", false, SwitchValue::kOptional, number(&s->retry.otherRetries)},
      {"-wait", false, SwitchValue::kOptional, number(&s->retry.waitMs)},
      {"-lock_retry", false, SwitchValue::kOptional, number(&s->retry.lockRetries)},
      {"-lock_wait", false, SwitchValue::kOptional, number(&s->retry.lockWaitSeconds)},
      {"-C_wait", false, SwitchValue::kOptional, number(&s->retry.driverWaits.cWait)},
      {"-I_wait", false, SwitchValue::kOptional, number(&s->retry.driverWaits.iWait)},
      {"-B_wait", false, SwitchValue::kOptional, number(&s->retry.driverWaits.bWait)},
  };
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, RunSettings* s) {
  bool ok = runcontrol::ParseSwitches(SwitchTable(s), argc, argv, 1);
  // Combination rules run even after a parsing error, so the error lands in the result file
  // of the mode parsed so far.
  if (s->mode == ModeNone) ok = false;
  if ((s->mode == ModeVersion || s->mode == ModeUpdate) && s->input == InputNone) ok = false;
  if ((s->mode == ModeBackup || s->mode == ModeRatio) && (s->input != InputNone || s->ForceRequested))
    ok = false;
  if (s->mode == ModeUpdate && s->ForceRequested) s->mode = ModeForce;
  if (s->mode == ModeVersion && s->ForceRequested) ok = false;
  return ok;
}

}  // namespace veltrop
