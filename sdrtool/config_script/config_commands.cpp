#include "sdrtool/config_script/config_commands.h"

#include <cstring>

#include "wire/text_compare.h"

namespace veltrop {
namespace {

// Searched in this order, so MENUTITLE and MENUPROMPT are tried before MENU.
constexpr ConfigCommand kCommands[kConfigCommandCount] = {
    {"NOTACMD", 0, 0},    {"CONFIGURATION", 1, 31}, {"DISPLAY", 1, 80},    {"MENUTITLE", 1, 80},
    {"MENUPROMPT", 0, 0}, {"MENU", 2, 128},         {"PROBE", 5, 31},      {"FOUND", 2, 31},
    {"PROMPT", 1, 80},    {"YES", 1, 31},           {"NO", 1, 31},         {"IFSET", 4, 31},
    {"ELSE", 0, 0},       {"ENDIF", 0, 0},          {"FRUNAME", 2, 31},    {"FRUADDRESS", 4, 31},
    {"FRUAREA", 3, 31},   {"FRUFIELD", 2, 80},      {"SDRNAME", 3, 31},    {"SET", 1, 31},
    {"CLEAR", 1, 31},     {"CLEARSDR", 0, 0},       {"ERRORLEVEL", 1, 31}, {"BOOT", 0, 0},
};

bool EndsWord(char c) {
  return c == '\0' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

const ConfigCommand& ConfigCommandRow(int id) {
  return kCommands[id];
}

bool BeginsWithConfigKeyword(const char* text) {
  for (int id = CmdNotACmd + 1; id < kConfigCommandCount; ++id) {
    if (wire::StartsWithIgnoreCase(text, kCommands[id].keyword)) return true;
  }
  return false;
}

int MatchConfigCommand(const char* text, size_t* keywordLength) {
  for (int id = CmdNotACmd; id < kConfigCommandCount; ++id) {
    const size_t n = std::strlen(kCommands[id].keyword);
    if (wire::StartsWithIgnoreCase(text, kCommands[id].keyword) && EndsWord(text[n])) {
      *keywordLength = n;
      return id;
    }
  }
  *keywordLength = 0;
  return -1;
}

}  // namespace veltrop
