#include "sdrtool/sdr_text/text_file.h"

namespace veltrop {

TextFile::Opened TextFile::Open(const std::string& path) {
  Close();
  bytesRead_ = 0;
  problem_ = Problem::kNone;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return Opened::kUnreadable;
  // Probing one character also refuses what opens but cannot be read (a directory).
  const int c = std::fgetc(f);
  if (c == EOF) {
    const bool unreadable = std::ferror(f) != 0;
    std::fclose(f);
    return unreadable ? Opened::kUnreadable : Opened::kEmpty;
  }
  std::ungetc(c, f);
  file_ = f;
  return Opened::kOpened;
}

void TextFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void TextFile::Reset() {
  Close();
  DiscardLine();
  lineCount = 0;
}

void TextFile::DiscardLine() {
  line[0] = '\0';
  cursor = -1;
}

bool TextFile::ReadLine() {
  DiscardLine();
  if (!file_ || problem_ != Problem::kNone) return false;
  int length = 0;
  while (length < kLineBuffer - 1) {
    const int c = std::fgetc(file_);
    if (c == EOF) break;
    if (++bytesRead_ > kMaxBytes) {
      problem_ = Problem::kTooLarge;
      return false;
    }
    if (c == '\0') {
      problem_ = Problem::kNulByte;
      return false;
    }
    // Text mode on Windows turns CR LF into LF; do the same everywhere, also when a full
    // buffer splits the pair.
    if (c == '\r') {
      const int next = std::fgetc(file_);
      if (next == '\n') {
        ++bytesRead_;
        line[length++] = '\n';
        break;
      }
      if (next != EOF) std::ungetc(next, file_);
    }
    line[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (length == 0) return false;
  line[length] = '\0';
  ++lineCount;
  cursor = 0;
  return true;
}

}  // namespace veltrop
