#include "sdrtool/transcript.h"

#include "sdrtool/sdr_record.h"

namespace veltrop {
namespace {

constexpr int kDumpBytes = kMaxSdrBodyBytes;
constexpr int kDumpRowBytes = 16;

bool IsPrintable(uint8_t c) {
  return c >= 0x20 && c < 0x7F;
}

}  // namespace

bool Transcript::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void Transcript::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool Transcript::Write(const std::string& text) {
  return !file_ || std::fputs(text.c_str(), file_) >= 0;
}

void Transcript::DumpRecord(const uint8_t* record, const std::string& title) {
  if (!file_) return;
  std::fprintf(file_, "%s\n", PrintableText(title.c_str()));
  // The text view stops at the record's end even when no NUL byte ends it earlier.
  char text[kDumpBytes + 1] = {};
  for (int i = 0; i < kDumpBytes && record[i] != 0; ++i) text[i] = static_cast<char>(record[i]);
  std::fprintf(file_, "%s\n", PrintableText(text));
  for (int row = 0; row < kDumpBytes; row += kDumpRowBytes) {
    for (int i = row; i < row + kDumpRowBytes; ++i) std::fprintf(file_, " %02X", record[i]);
    std::fputs("   ", file_);
    for (int i = row; i < row + kDumpRowBytes; ++i)
      std::fputc(IsPrintable(record[i]) ? record[i] : '.', file_);
    std::fputc('\n', file_);
  }
  std::fputc('\n', file_);
}

const char* PrintableText(const char* text) {
  for (const char* p = text; *p; ++p) {
    const uint8_t c = static_cast<uint8_t>(*p);
    if (c < 0x20 || c > 0x7F) return "";
  }
  return text;
}

}  // namespace veltrop
