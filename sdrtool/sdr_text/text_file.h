#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "sdrtool/error_catalogue.h"

namespace veltrop {

// An SDR text file or configuration script, read line by line into a 256-byte buffer. Owns
// the file: it is closed at the latest when the object goes away. Reading is bounded: a NUL
// byte or more than kMaxBytes end the reading with a problem, so a device or a pipe that
// never ends cannot hold the run.
class TextFile {
 public:
  static constexpr int kLineBuffer = 256;
  static constexpr long kMaxBytes = 512L * 1024;

  enum class Problem { kNone, kNulByte, kTooLarge };

  TextFile() = default;
  ~TextFile() { Close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  enum class Opened { kOpened, kUnreadable, kEmpty };
  // Opens path for reading (closing what was open). kUnreadable when the file cannot be opened
  // or read (a directory); kEmpty (the file is then closed). Nothing is reported: the caller
  // reports its own message.
  Opened Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // Closes the file and empties the line buffer, cursor and line count.
  void Reset();
  // Reads the next piece of at most 255 characters into the line buffer, a CR LF line end
  // arriving as a single line feed on every platform. Sets the cursor to the start and counts
  // the line. False at the end of the file or on a problem (the buffer is then empty).
  bool ReadLine();
  // Empties the line buffer so that the next token comes from the following line.
  void DiscardLine();

  Problem problem() const { return problem_; }
  // Reports the problem that ended the reading (70 with the line, or 71) through report;
  // returns the report's result, kNone when there was no problem.
  template <typename Report>
  SdrError ReportProblem(Report&& report) const {
    if (problem_ == Problem::kNulByte)
      return report(SdrError::kInvalidCharacterOnLine, static_cast<uint16_t>(lineCount + 1));
    if (problem_ == Problem::kTooLarge) return report(SdrError::kFileTooLarge, uint16_t{0});
    return SdrError::kNone;
  }

  char line[kLineBuffer] = {};
  int cursor = -1;  // -1: the buffer holds no line
  int lineCount = 0;

 private:
  std::FILE* file_ = nullptr;
  long bytesRead_ = 0;
  Problem problem_ = Problem::kNone;
};

}  // namespace veltrop
