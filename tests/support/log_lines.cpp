#include "tests/support/log_lines.h"

#include "tests/support/temp_dir.h"

namespace testsupport {

std::vector<std::string> ReadLogTexts(const std::string& path) {
  constexpr size_t kStamp = 21;
  std::vector<std::string> lines;
  const std::string text = ReadFileOrEmpty(path);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line.size() >= kStamp ? line.substr(kStamp) : line);
    pos = end + 1;
  }
  return lines;
}

}  // namespace testsupport
