#include "sdrtool/config_script/config_line.h"

#include <cstring>

#include "sdrtool/config_script/config_commands.h"

namespace veltrop {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsPrintable(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x20 && u <= 0x7E;
}

// Takes one argument starting at text[*pos] (not a blank). 0 or the argument's error.
int TakeArgument(const std::string& text, size_t* pos, std::string* argument) {
  size_t p = *pos;
  if (text[p] == '"') {
    if (p + 1 == text.size()) return 20;
    const size_t close = text.find('"', p + 1);
    if (close == std::string::npos) return 14;
    *argument = text.substr(p + 1, close - p - 1);
    *pos = close + 1;
    return 0;
  }
  size_t end = p;
  while (end < text.size() && !IsBlank(text[end])) {
    if (text[end] == '"') return 22;
    ++end;
  }
  *argument = text.substr(p, end - p);
  *pos = end;
  return 0;
}

}  // namespace

std::string CleanConfigText(const char* raw) {
  while (IsBlank(*raw)) ++raw;
  size_t n = std::strlen(raw);
  bool quoted = false;
  for (size_t i = 0; i < n; ++i) {
    if (raw[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && raw[i] == '/' && raw[i + 1] == '/') {
      n = i;
      break;
    }
  }
  while (n > 0 && (IsBlank(raw[n - 1]) || raw[n - 1] == '\r' || raw[n - 1] == '\n')) --n;
  return std::string(raw, n);
}

int ParseConfigLine(ConfigLine* line) {
  size_t keywordLength = 0;
  const int id = MatchConfigCommand(line->text.c_str(), &keywordLength);
  if (id <= CmdNotACmd) return 13;
  const ConfigCommand& row = ConfigCommandRow(id);
  line->commandId = id;
  line->maxArguments = row.maxArguments;
  line->maxArgumentLength = row.maxArgumentLength;
  line->keyword = line->text.substr(0, keywordLength);
  line->argumentCount = 0;

  const std::string& text = line->text;
  size_t pos = keywordLength;
  for (;;) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size()) break;
    if (line->argumentCount == kMaxConfigArguments || row.maxArgumentLength == 0) return 24;
    std::string& argument = line->arguments[line->argumentCount];
    if (int error = TakeArgument(text, &pos, &argument)) return error;
    for (char c : argument) {
      if (!IsPrintable(c)) return 69;
    }
    if (argument.size() > static_cast<size_t>(row.maxArgumentLength)) return 8;
    ++line->argumentCount;
  }
  if (line->argumentCount > row.maxArguments) return 24;
  return 0;
}

}  // namespace veltrop
