#include "sdrtool/lib_funct.h"

#include <cstring>

#include "sdrtool/sens_data.h"
#include "sdrtool/veltrop_run.h"

namespace veltrop {
namespace {

constexpr size_t kMatchPositions = 32;
constexpr int kDumpBytes = kMaxSdrBodyBytes;
constexpr int kDumpRowBytes = 16;

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsPrintable(uint8_t c) {
  return c >= 0x20 && c < 0x7F;
}

}  // namespace

void FileContext::Close() {
  if (file) std::fclose(file);
  file = nullptr;
}

void FileContext::Reset() {
  Close();
  DiscardLine();
  lineCount = 0;
}

void FileContext::DiscardLine() {
  line[0] = '\0';
  cursor = -1;
}

bool FileContext::ReadLine() {
  DiscardLine();
  if (!file || !std::fgets(line, sizeof line, file)) {
    DiscardLine();
    return false;
  }
  size_t length = std::strlen(line);
  // Text mode on Windows turns CR LF into LF; do the same everywhere, also when a full buffer
  // split the pair.
  if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
    line[length - 2] = '\n';
    line[length - 1] = '\0';
  } else if (length == sizeof line - 1 && line[length - 1] == '\r') {
    int next = std::fgetc(file);
    if (next == '\n') {
      line[length - 1] = '\n';
    } else if (next != EOF) {
      std::ungetc(next, file);
    }
  }
  ++lineCount;
  cursor = 0;
  return true;
}

int LibFunct::OpenFile(const std::string& path, FileContext* ctx, const char* mode) {
  ctx->Close();
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (!f) return 66;
  if (std::strcmp(mode, "w") != 0) {
    bool empty;
    if (std::strchr(mode, 'r')) {
      // Probing one character also refuses what opens but cannot be read (a directory).
      int c = std::fgetc(f);
      if (c == EOF && std::ferror(f)) {
        std::fclose(f);
        return 66;
      }
      empty = c == EOF;
      if (!empty) std::ungetc(c, f);
    } else {
      empty = std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) == 0;
      std::rewind(f);
    }
    if (empty) {
      std::fclose(f);
      return kAlreadyReported;
    }
  }
  ctx->file = f;
  return 0;
}

int LibFunct::HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 16;
}

int LibFunct::HexToBytes(std::string_view text, uint8_t* dest, int n) {
  if (n <= 0 || text.empty() || text.size() > static_cast<size_t>(n) * 2) return 3;
  for (char c : text) {
    if (HexDigitValue(c) > 15) return 3;
  }
  const int covered = static_cast<int>((text.size() + 1) / 2);
  std::memset(dest, 0, static_cast<size_t>(n - covered));
  size_t pos = 0;
  uint8_t* out = dest + (n - covered);
  if (text.size() % 2 == 1) *out++ = static_cast<uint8_t>(HexDigitValue(text[pos++]));
  for (; pos < text.size(); pos += 2) {
    *out++ = static_cast<uint8_t>(HexDigitValue(text[pos]) << 4 | HexDigitValue(text[pos + 1]));
  }
  return 0;
}

uint16_t LibFunct::HexToWord(std::string_view text) {
  if (text.size() > 4) {
    Report(3);
    return 0;
  }
  uint16_t value = 0;
  for (char c : text) {
    int digit = HexDigitValue(c);
    if (digit > 15) {
      Report(3);
      return 0;
    }
    value = static_cast<uint16_t>(value << 4 | digit);
  }
  return value;
}

bool LibFunct::NameMatchesTag(std::string_view name, std::string_view tag) {
  for (size_t i = 0; i < kMatchPositions; ++i) {
    const bool tagEnds = i >= tag.size() || tag[i] == '\0';
    const bool nameEnds = i >= name.size() || name[i] == '\0';
    if (tagEnds || nameEnds) return tagEnds && nameEnds;
    const char t = Upper(tag[i]);
    const char n = Upper(name[i]);
    if (t != n && !(t == '#' && n >= '0' && n <= '9')) return false;
  }
  return true;
}

bool LibFunct::NameMatch(const SetNameList& names, std::string_view tag) {
  for (const std::string& name : names) {
    if (NameMatchesTag(name, tag)) return true;
  }
  return false;
}

const char* LibFunct::PrintableText(const char* text) {
  for (const char* p = text; *p; ++p) {
    const uint8_t c = static_cast<uint8_t>(*p);
    if (c < 0x20 || c > 0x7F) return "";
  }
  return text;
}

int LibFunct::DumpRecord(const uint8_t* record, const char* title) {
  std::FILE* out = run_.TranscriptFile;
  if (!out) return 0;
  std::fprintf(out, "%s\n", PrintableText(title));
  // The text view stops at the record's end even when no NUL byte ends it earlier.
  char text[kDumpBytes + 1] = {};
  for (int i = 0; i < kDumpBytes && record[i] != 0; ++i) text[i] = static_cast<char>(record[i]);
  std::fprintf(out, "%s\n", PrintableText(text));
  for (int row = 0; row < kDumpBytes; row += kDumpRowBytes) {
    for (int i = row; i < row + kDumpRowBytes; ++i) std::fprintf(out, " %02X", record[i]);
    std::fputs("   ", out);
    for (int i = row; i < row + kDumpRowBytes; ++i) std::fputc(IsPrintable(record[i]) ? record[i] : '.', out);
    std::fputc('\n', out);
  }
  std::fputc('\n', out);
  return 0;
}

}  // namespace veltrop
