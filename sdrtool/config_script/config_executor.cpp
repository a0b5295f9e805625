#include <cctype>
#include <new>

#include "sdrtool/config_script/config_commands.h"
#include "sdrtool/config_script/config_script.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/text_file.h"
#include "sdrtool/transcript.h"
#include "wire/text_compare.h"

namespace veltrop {
namespace {

// Names, SDR file names and options of the execution checks.
constexpr size_t kMaxNameLength = 31;
constexpr size_t kMaxDisplayLength = 80;

// Checks of a command that takes exactly one argument.
int CheckSingleArgument(const ConfigLine& line, size_t maxLength) {
  if (line.argumentCount == 0) return 15;
  if (line.arguments[0].size() > maxLength) return 7;
  if (line.argumentCount > 1) return 24;
  return 0;
}

bool IsGroupOption(const std::string& option, SdrGroup* group) {
  if (wire::EqualsIgnoreCase(option, "FIRST")) {
    *group = SdrGroup::First;
    return true;
  }
  if (wire::EqualsIgnoreCase(option, "LAST")) {
    *group = SdrGroup::Last;
    return true;
  }
  return false;
}

// The options after an SDR file name: at most one group and at most one COMPARE.
int ParseSdrNameOptions(const ConfigLine& line, SdrNameEntry* entry) {
  const std::string* options = line.arguments + 1;
  switch (line.argumentCount) {
    case 1:
      return 0;
    case 2:
      if (wire::EqualsIgnoreCase(options[0], "COMPARE")) {
        entry->compare = true;
        return 0;
      }
      return IsGroupOption(options[0], &entry->group) ? 0 : 9;
    default:
      entry->compare = true;
      if (wire::EqualsIgnoreCase(options[0], "COMPARE") && IsGroupOption(options[1], &entry->group)) return 0;
      if (wire::EqualsIgnoreCase(options[1], "COMPARE") && IsGroupOption(options[0], &entry->group)) return 0;
      return 9;
  }
}

}  // namespace

int ConfigScript::Execute() {
  executed_ = true;
  for (const ConfigLine& line : lines_) {
    if (int error = ExecuteLine(line)) return run_.errors.Report(error == kAlreadyReported ? 21 : error);
  }
  if (!blocks_.empty()) return run_.errors.Report(19);
  return 0;
}

bool ConfigScript::BranchActive() const {
  if (blocks_.empty()) return true;
  const Block& block = blocks_.back();
  return block.enclosingActive && block.condition != block.inElse;
}

int ConfigScript::ExecuteLine(const ConfigLine& line) {
  switch (line.commandId) {
    case CmdIfSet:
      return ExecuteIfSet(line);
    case CmdElse:
      if (blocks_.empty()) return 17;
      blocks_.back().inElse = !blocks_.back().inElse;
      return 0;
    case CmdEndIf:
      if (blocks_.empty()) return 18;
      blocks_.pop_back();
      return 0;
    default:
      break;
  }
  // Inactive branches skip everything unchecked; only the block structure is followed.
  if (!BranchActive()) return 0;

  switch (line.commandId) {
    case CmdConfiguration:
      if (int error = CheckSingleArgument(line, kMaxNameLength)) return error;
      if (!line.arguments[0].empty()) run_.Log("Loading configuration file: " + line.arguments[0]);
      return 0;
    case CmdDisplay:
      if (int error = CheckSingleArgument(line, kMaxDisplayLength)) return error;
      if (!line.arguments[0].empty()) run_.Log(PrintableText(line.arguments[0].c_str()));
      return 0;
    case CmdMenuTitle:
      if (int error = CheckSingleArgument(line, kMaxDisplayLength)) return error;
      return 11;
    case CmdSet:
    case CmdClear:
      return ExecuteNameCommand(line);
    case CmdSdrName:
      return ExecuteSdrName(line);
    default:
      // Part of the language, but not carried out by this tool.
      return 11;
  }
}

int ConfigScript::ExecuteIfSet(const ConfigLine& line) {
  if (line.argumentCount == 0) return 16;
  const bool enclosingActive = BranchActive();
  Block block{enclosingActive, false, false};
  if (enclosingActive) block.condition = ConditionHolds(names_, line.arguments, line.argumentCount);
  try {
    blocks_.push_back(block);
  } catch (const std::bad_alloc&) {
    return 2;
  }
  return 0;
}

int ConfigScript::ExecuteNameCommand(const ConfigLine& line) {
  if (int error = CheckSingleArgument(line, kMaxNameLength)) return error;
  const std::string& name = line.arguments[0];
  if (name.empty()) return 0;
  if (line.commandId == CmdSet) {
    try {
      names_.push_back(name);
    } catch (const std::bad_alloc&) {
      return 2;
    }
    return 0;
  }
  for (auto it = names_.begin(); it != names_.end(); ++it) {
    if (wire::EqualsIgnoreCase(*it, name)) {
      names_.erase(it);
      break;
    }
  }
  return 0;
}

int ConfigScript::ExecuteSdrName(const ConfigLine& line) {
  if (line.argumentCount == 0) return 15;
  if (line.arguments[0].size() > kMaxNameLength) return 7;
  if (line.argumentCount > 3) return 24;
  SdrNameEntry entry;
  entry.fileName = line.arguments[0];
  {
    TextFile probe;
    if (probe.Open(entry.fileName) != 0) return 68;
  }
  if (int error = ParseSdrNameOptions(line, &entry)) return error;
  try {
    entries_.push_back(entry);
  } catch (const std::bad_alloc&) {
    return 2;
  }
  return 0;
}

}  // namespace veltrop
