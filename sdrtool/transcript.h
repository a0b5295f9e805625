#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace veltrop {

// The programming transcript: record dumps and messages of an SDR or image run, written to
// the null device as the programs always have. Closed at the latest when it goes away.
class Transcript {
 public:
  Transcript() = default;
  ~Transcript() { Close(); }
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // False when the text could not be written.
  bool Write(const std::string& text);
  // Title, the bytes as text, four rows of hex and characters, an empty line.
  void DumpRecord(const uint8_t* record, const std::string& title);

 private:
  std::FILE* file_ = nullptr;
};

// text itself when every character lies in 20h..7Fh, else "".
const char* PrintableText(const char* text);

}  // namespace veltrop
