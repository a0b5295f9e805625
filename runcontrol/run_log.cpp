#include "runcontrol/run_log.h"

#include <cstdio>

#include "platform/files.h"

namespace runcontrol {
RunLog::RunLog(platform::Clock& clock, platform::Console& console, size_t lineBufferSize)
    : clock_(clock), console_(console), lineBufferSize_(lineBufferSize) {}

size_t RunLog::AddFile(LogFile file) {
  files_.push_back(std::move(file));
  return files_.size() - 1;
}

std::string LogStamp(const platform::LocalTime& t) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%4.4d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d  ", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return stamp;
}

void RunLog::Line(std::string_view text) {
  if (echo_) {
    console_.Write(text);
    if (text.empty() || text.back() != '\n') console_.Write("\n");
  }
  if (files_.empty()) return;
  LogFile& file = files_[active_];

  std::string line = LogStamp(clock_.Local());
  // Room for the text, the line feed and the terminator.
  const size_t used = line.size() < lineBufferSize_ ? line.size() : lineBufferSize_ - 1;
  line.resize(used);
  const size_t room = lineBufferSize_ > used + 2 ? lineBufferSize_ - used - 2 : 0;
  line.append(text.substr(0, room));
  line += '\n';

  const char* mode = "a";
  if (file.rotateAboveLines > 0) {
    if (file.lines > file.rotateAboveLines && platform::CopyFileAtomically(file.path, file.backupPath)) {
      mode = "w";
      // As the firmware tool always did: 0, although the fresh file holds this line, so a cycle
      // within one run is one line longer than one counted from the file at start-up.
      file.lines = 0;
    } else {
      // Below the limit, or the copy aside failed: truncating then would lose the lines, so
      // they stay and the next line tries again.
      ++file.lines;
    }
  }
  std::FILE* f = std::fopen(file.path.c_str(), mode);
  if (!f) return;
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

}  // namespace runcontrol
