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

// Takes one argument starting at text[*pos] (not a blank). kNone or the argument's error.
SdrError TakeArgument(const std::string& text, size_t* pos, std::string* argument) {
  size_t p = *pos;
  if (text[p] == '"') {
    if (p + 1 == text.size()) return SdrError::kUnmatchedQuotes;
    const size_t close = text.find('"', p + 1);
    if (close == std::string::npos) return SdrError::kQuoteMissingAfterCommand;
    *argument = text.substr(p + 1, close - p - 1);
    *pos = close + 1;
    return SdrError::kNone;
  }
  size_t end = p;
  while (end < text.size() && !IsBlank(text[end])) {
    if (text[end] == '"') return SdrError::kConfigLineParsing;
    ++end;
  }
  *argument = text.substr(p, end - p);
  *pos = end;
  return SdrError::kNone;
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

SdrError ParseConfigLine(ConfigLine* line) {
  size_t keywordLength = 0;
  const int id = MatchConfigCommand(line->text.c_str(), &keywordLength);
  if (id <= CmdNotACmd) return SdrError::kInvalidConfigString;
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
    if (line->argumentCount == kMaxConfigArguments || row.maxArgumentLength == 0)
      return SdrError::kTooManyArguments;
    std::string& argument = line->arguments[line->argumentCount];
    const SdrError error = TakeArgument(text, &pos, &argument);
    if (error != SdrError::kNone) return error;
    for (char c : argument) {
      if (!IsPrintable(c)) return SdrError::kInvalidCharacter;
    }
    if (argument.size() > static_cast<size_t>(row.maxArgumentLength))
      return SdrError::kArgumentLengthExceeded;
    ++line->argumentCount;
  }
  if (line->argumentCount > row.maxArguments) return SdrError::kTooManyArguments;
  return SdrError::kNone;
}

}  // namespace veltrop
