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
SdrError CheckSingleArgument(const ConfigLine& line, size_t maxLength) {
  if (line.argumentCount == 0) return SdrError::kArgumentMissing;
  if (line.arguments[0].size() > maxLength) return SdrError::kArgumentTooLong;
  if (line.argumentCount > 1) return SdrError::kTooManyArguments;
  return SdrError::kNone;
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
SdrError ParseSdrNameOptions(const ConfigLine& line, SdrNameEntry* entry) {
  const std::string* options = line.arguments + 1;
  switch (line.argumentCount) {
    case 1:
      return SdrError::kNone;
    case 2:
      if (wire::EqualsIgnoreCase(options[0], "COMPARE")) {
        entry->compare = true;
        return SdrError::kNone;
      }
      return IsGroupOption(options[0], &entry->group) ? SdrError::kNone : SdrError::kInvalidSdrNameArgument;
    default:
      entry->compare = true;
      if (wire::EqualsIgnoreCase(options[0], "COMPARE") && IsGroupOption(options[1], &entry->group))
        return SdrError::kNone;
      if (wire::EqualsIgnoreCase(options[1], "COMPARE") && IsGroupOption(options[0], &entry->group))
        return SdrError::kNone;
      return SdrError::kInvalidSdrNameArgument;
  }
}

}  // namespace

SdrError ConfigScript::Execute() {
  executed_ = true;
  for (const ConfigLine& line : lines_) {
    const SdrError error = ExecuteLine(line);
    if (error != SdrError::kNone) return run_.errors.Report(error);
  }
  if (!blocks_.empty()) return run_.errors.Report(SdrError::kUnmatchedIfSet);
  return SdrError::kNone;
}

bool ConfigScript::BranchActive() const {
  if (blocks_.empty()) return true;
  const Block& block = blocks_.back();
  return block.enclosingActive && block.condition != block.inElse;
}

SdrError ConfigScript::ExecuteLine(const ConfigLine& line) {
  switch (line.commandId) {
    case CmdIfSet:
      return ExecuteIfSet(line);
    case CmdElse:
      if (blocks_.empty()) return SdrError::kElseWithoutIfSet;
      blocks_.back().inElse = !blocks_.back().inElse;
      return SdrError::kNone;
    case CmdEndIf:
      if (blocks_.empty()) return SdrError::kEndIfWithoutIfSet;
      blocks_.pop_back();
      return SdrError::kNone;
    default:
      break;
  }
  // Inactive branches skip everything unchecked; only the block structure is followed.
  if (!BranchActive()) return SdrError::kNone;

  SdrError error = SdrError::kNone;
  switch (line.commandId) {
    case CmdConfiguration:
      error = CheckSingleArgument(line, kMaxNameLength);
      if (error == SdrError::kNone && !line.arguments[0].empty())
        run_.Log("Loading configuration file: " + line.arguments[0]);
      return error;
    case CmdDisplay:
      error = CheckSingleArgument(line, kMaxDisplayLength);
      if (error == SdrError::kNone && !line.arguments[0].empty())
        run_.Log(PrintableText(line.arguments[0].c_str()));
      return error;
    case CmdMenuTitle:
      error = CheckSingleArgument(line, kMaxDisplayLength);
      return error != SdrError::kNone ? error : SdrError::kInvalidCommand;
    case CmdSet:
    case CmdClear:
      return ExecuteNameCommand(line);
    case CmdSdrName:
      return ExecuteSdrName(line);
    default:
      // Part of the language, but not carried out by this tool.
      return SdrError::kInvalidCommand;
  }
}

SdrError ConfigScript::ExecuteIfSet(const ConfigLine& line) {
  if (line.argumentCount == 0) return SdrError::kIfSetWithoutCondition;
  const bool enclosingActive = BranchActive();
  Block block{enclosingActive, false, false};
  if (enclosingActive) block.condition = ConditionHolds(names_, line.arguments, line.argumentCount);
  try {
    blocks_.push_back(block);
  } catch (const std::bad_alloc&) {
    return SdrError::kInsufficientMemory;
  }
  return SdrError::kNone;
}

SdrError ConfigScript::ExecuteNameCommand(const ConfigLine& line) {
  const SdrError error = CheckSingleArgument(line, kMaxNameLength);
  if (error != SdrError::kNone) return error;
  const std::string& name = line.arguments[0];
  if (name.empty()) return SdrError::kNone;
  if (line.commandId == CmdSet) {
    try {
      names_.push_back(name);
    } catch (const std::bad_alloc&) {
      return SdrError::kInsufficientMemory;
    }
    return SdrError::kNone;
  }
  for (auto it = names_.begin(); it != names_.end(); ++it) {
    if (wire::EqualsIgnoreCase(*it, name)) {
      names_.erase(it);
      break;
    }
  }
  return SdrError::kNone;
}

SdrError ConfigScript::ExecuteSdrName(const ConfigLine& line) {
  if (line.argumentCount == 0) return SdrError::kArgumentMissing;
  if (line.arguments[0].size() > kMaxNameLength) return SdrError::kArgumentTooLong;
  if (line.argumentCount > 3) return SdrError::kTooManyArguments;
  SdrNameEntry entry;
  entry.fileName = line.arguments[0];
  {
    TextFile probe;
    if (probe.Open(entry.fileName) != TextFile::Opened::kOpened) return SdrError::kSdrFileOpenFailed;
  }
  const SdrError error = ParseSdrNameOptions(line, &entry);
  if (error != SdrError::kNone) return error;
  try {
    entries_.push_back(entry);
  } catch (const std::bad_alloc&) {
    return SdrError::kInsufficientMemory;
  }
  return SdrError::kNone;
}

}  // namespace veltrop
