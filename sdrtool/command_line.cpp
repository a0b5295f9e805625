#include <cstring>
#include <cctype>

#include "sdrtool/run_settings.h"

namespace veltrop {
namespace {

bool SwitchIs(const char* arg, const char* name) {
  for (; *arg && *name; ++arg, ++name) {
    if (std::tolower(static_cast<unsigned char>(*arg)) != std::tolower(static_cast<unsigned char>(*name)))
      return false;
  }
  return *arg == *name;
}

}  // namespace

int32_t ConvertNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulate wide and wrap like a 32-bit int so that overlong numbers stay defined.
  uint32_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

bool ParseCommandLine(int argc, const char* const* argv, RunSettings* s) {
  bool ok = true;
  int i = 1;
  // An optional value is taken when the next argument exists and does not begin with "-".
  auto optionalValue = [&](std::string* out) {
    if (i + 1 < argc && argv[i + 1][0] != '-') {
      *out = argv[++i];
      return true;
    }
    return false;
  };
  auto setMode = [&](SdrMode mode) {
    if (s->mode != ModeNone) return false;
    s->mode = mode;
    return true;
  };
  auto setInput = [&](InputKind input) {
    if (s->input != InputNone) return false;
    s->input = input;
    return true;
  };
  auto number = [&](int32_t* target) {
    std::string value;
    if (optionalValue(&value)) *target = ConvertNumber(value);
    return true;
  };

  for (; i < argc && ok; ++i) {
    const char* a = argv[i];
    std::string value;
    if (SwitchIs(a, "-version")) {
      ok = setMode(ModeVersion);
    } else if (SwitchIs(a, "-update")) {
      ok = setMode(ModeUpdate);
    } else if (SwitchIs(a, "-direct")) {
      ok = setMode(ModeUpdate);
      if (ok) s->DirectMode = s->ConsoleEcho = true;
    } else if (SwitchIs(a, "-force")) {
      s->ForceRequested = true;
    } else if (SwitchIs(a, "-ratio")) {
      ok = setMode(ModeRatio);
    } else if (SwitchIs(a, "-backup")) {
      ok = setMode(ModeBackup);
      if (ok) {
        s->ConsoleEcho = true;
        optionalValue(&s->BackupFileName);
      }
    } else if (SwitchIs(a, "-sdr")) {
      ok = setInput(InputSdr);
      if (ok) optionalValue(&s->SdrFileName);
    } else if (SwitchIs(a, "-cfg")) {
      ok = setInput(InputCfg);
      if (ok && optionalValue(&value)) s->CfgFileName = value;
    } else if (SwitchIs(a, "-bin")) {
      ok = setInput(InputBin);
      if (ok) optionalValue(&s->BinFileName);
    } else if (SwitchIs(a, "-display")) {
      s->ConsoleEcho = true;
    } else if (SwitchIs(a, "-test")) {
      s->TraceEnabled = true;
    } else if (SwitchIs(a, "-test2")) {
      s->ResultTraceEnabled = true;
    } else if (SwitchIs(a, "-ff_retry")) {
      number(&s->retry.ffRetry);
    } else if (SwitchIs(a, "-other_retry")) {
      number(&s->retry.otherRetry);
    } else if (SwitchIs(a, "-wait")) {
      number(&s->retry.waitMs);
    } else if (SwitchIs(a, "-lock_retry")) {
      number(&s->retry.lockRetry);
    } else if (SwitchIs(a, "-lock_wait")) {
      number(&s->retry.lockWaitS);
    } else if (SwitchIs(a, "-C_wait")) {
      number(&s->retry.cWait);
    } else if (SwitchIs(a, "-I_wait")) {
      number(&s->retry.iWait);
    } else if (SwitchIs(a, "-B_wait")) {
      number(&s->retry.bWait);
    } else {
      ok = false;
    }
  }

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
