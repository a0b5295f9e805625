#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"

namespace runcontrol {

// One log file of a program. A file rotated by lines keeps a line counter (counted from the
// file at start-up): once it is above rotateAboveLines, the next line first copies the file
// over backupPath and starts the file afresh; when the copy fails it is appended and the next
// line tries again.
struct LogFile {
  std::string path;
  int32_t rotateAboveLines = 0;  // 0: not rotated by lines
  std::string backupPath;
  int32_t lines = 0;
};

// The run's line log: one time-stamped line per call, the file opened, appended and closed
// at once so that every line is on disk when the call returns, also if the process dies.
class RunLog {
 public:
  // lineBufferSize: the line is assembled in a buffer of this size, stamp and terminator
  // included; longer texts are cut so nothing is written beyond it.
  RunLog(platform::Clock& clock, platform::Console& console, size_t lineBufferSize);

  // Adds a file and returns its index; the first file added is the one in use.
  size_t AddFile(LogFile file);
  // The file that the next lines go to (the programs choose it by run mode).
  void Use(size_t index) { active_ = index; }
  const LogFile& File(size_t index) const { return files_[index]; }
  // Echo every line on the console too (without the stamp).
  void SetEcho(bool echo) { echo_ = echo; }

  // A line that cannot be written is lost without a report.
  void Line(std::string_view text);

 private:
  platform::Clock& clock_;
  platform::Console& console_;
  size_t lineBufferSize_;
  std::vector<LogFile> files_;
  size_t active_ = 0;
  bool echo_ = false;
};

// The time stamp every log line starts with: "2010/06/02 01:14:33  ".
std::string LogStamp(const platform::LocalTime& t);

}  // namespace runcontrol
