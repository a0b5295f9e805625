#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "sdrtool/prg_error.h"
#include "sdrtool/set_name_list.h"

namespace veltrop {

// An open text file read line by line into a 256-byte buffer. Owns the file: it is closed
// at the latest when the context goes away.
struct FileContext {
  static constexpr int kLineBuffer = 256;

  std::FILE* file = nullptr;
  char line[kLineBuffer] = {};
  int cursor = -1;  // -1: the buffer holds no line
  int lineCount = 0;

  FileContext() = default;
  ~FileContext() { Close(); }
  FileContext(const FileContext&) = delete;
  FileContext& operator=(const FileContext&) = delete;

  // Closes the file when one is open; safe to call again.
  void Close();
  // Closes the file and empties the line buffer, cursor and line count.
  void Reset();
  // Reads the next piece of at most 255 characters into the line buffer, a CR LF line end
  // arriving as a single line feed on every platform. Sets the cursor to the start and counts
  // the line. False at the end of the file (the buffer is then empty).
  bool ReadLine();
  // Empties the line buffer so that the next token comes from the following line.
  void DiscardLine();
};

// File, hex-conversion, name-match and record-dump routines shared by the SDR tool's parsers.
class LibFunct : public PrgError {
 public:
  explicit LibFunct(VeltropRun& run) : PrgError(run) {}

  // Opens path with the fopen mode into ctx (closing what ctx held). 0; 66 when the file cannot
  // be opened; 81 when it is empty and the mode is not "w" (the file is then closed). Neither
  // is reported: the caller reports its own message. The line buffer is left to the caller.
  int OpenFile(const std::string& path, FileContext* ctx, const char* mode);

  // Writes the hex text right-aligned into n bytes, most significant first ("ABC", 2 gives
  // 0A BC). 0, or 3 for n = 0, an empty text, more than 2n digits or a non-hex digit; dest is
  // untouched on failure.
  static int HexToBytes(std::string_view text, uint8_t* dest, int n);
  // The value of at most 4 hex digits. Reports error 3 and yields 0 for more digits or a
  // non-hex digit; an empty text is 0.
  uint16_t HexToWord(std::string_view text);
  // 0..15, or 16 when c is not a hex digit.
  static int HexDigitValue(char c);

  // True when the tag matches a name of the list: position by position without regard to case,
  // a "#" in the tag standing for any decimal digit, both ending together or agreeing over 32
  // positions.
  static bool NameMatch(const SetNameList& names, std::string_view tag);
  static bool NameMatchesTag(std::string_view name, std::string_view tag);

  // text itself when every character lies in 20h..7Fh, else "".
  static const char* PrintableText(const char* text);

  // Dumps a 64-byte record to the run's TranscriptFile (nothing when none is open): title,
  // the bytes as text, four rows of hex and characters, an empty line. Returns 0.
  int DumpRecord(const uint8_t* record, const char* title);
};

}  // namespace veltrop
