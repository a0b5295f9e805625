#pragma once
#include <cstddef>

namespace veltrop {

// Rows of the configuration script's command table, in search order.
enum ConfigCommandId : int {
  CmdNotACmd = 0,
  CmdConfiguration,
  CmdDisplay,
  CmdMenuTitle,
  CmdMenuPrompt,
  CmdMenu,
  CmdProbe,
  CmdFound,
  CmdPrompt,
  CmdYes,
  CmdNo,
  CmdIfSet,
  CmdElse,
  CmdEndIf,
  CmdFruName,
  CmdFruAddress,
  CmdFruArea,
  CmdFruField,
  CmdSdrName,
  CmdSet,
  CmdClear,
  CmdClearSdr,
  CmdErrorLevel,
  CmdBoot,
  kConfigCommandCount
};

struct ConfigCommand {
  const char* keyword;
  int maxArguments;
  int maxArgumentLength;
};

// The row of a command id (0 .. kConfigCommandCount - 1).
const ConfigCommand& ConfigCommandRow(int id);

// True when the text begins with one of the keywords, whatever follows it and whatever its
// case; the NOTACMD row never counts. This is the loading check only.
bool BeginsWithConfigKeyword(const char* text);

// The first row whose keyword, in any case, stands at the start of the text as a whole word
// (followed by a blank, CR, LF or the end). Returns the row id, or -1 when no row matches;
// *keywordLength receives the keyword's length. A NOTACMD match is returned as CmdNotACmd.
int MatchConfigCommand(const char* text, size_t* keywordLength);

}  // namespace veltrop
