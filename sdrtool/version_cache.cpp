#include "sdrtool/version_cache.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "sdrtool/repository/repository_reader.h"
#include "sdrtool/sdr_run.h"
#include "wire/hex_text.h"

namespace veltrop {
namespace {

// Two timestamps, the version text and the configuration name with their line ends; anything
// larger is no cache of ours.
constexpr int64_t kMaxCacheBytes = 1024;
constexpr size_t kMaxTextChars = 252;

// The complete lines of the cache, without their line ends (a CR before the LF too). False
// when the file is missing, too large, or its last line was cut off (a write that never
// finished, or someone else's file): such a cache is no cache.
bool ReadCacheLines(std::vector<std::string>* lines) {
  const int64_t size = platform::FileSize(kVersionCacheFile);
  if (size <= 0 || size > kMaxCacheBytes) return false;
  std::string content;
  if (!platform::ReadWholeFile(kVersionCacheFile, &content) || content.empty() || content.back() != '\n') {
    return false;
  }
  size_t start = 0;
  for (size_t end = content.find('\n'); end != std::string::npos; end = content.find('\n', start)) {
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(line.substr(0, kMaxTextChars));
    start = end + 1;
  }
  return true;
}

bool ParseTimestamp(const std::string& line, uint32_t* value) {
  if (line.empty() || line.size() > 8 || !wire::IsHexText(line)) return false;
  uint32_t v = 0;
  for (char c : line) v = v * 16u + static_cast<uint32_t>(wire::HexDigitValue(c));
  *value = v;
  return true;
}

void LoadVersionCache(SdrRun& run) {
  std::vector<std::string> lines;
  uint32_t addition = 0, erase = 0;
  // Without a version line the cache counts as absent and the repository is read.
  if (!ReadCacheLines(&lines) || lines.size() < 3 || !ParseTimestamp(lines[0], &addition) ||
      !ParseTimestamp(lines[1], &erase) || addition != run.bmc.additionTimestamp ||
      erase != run.bmc.eraseTimestamp) {
    return;
  }
  run.bmc.sdrVersionText = lines[2];
  if (lines.size() > 3 && run.bmc.cfgName.empty()) run.bmc.cfgName = lines[3];
}

void WriteVersionCache(SdrRun& run) {
  char stamps[32];
  std::snprintf(stamps, sizeof stamps, "%04x\n%04x\n", run.bmc.additionTimestamp, run.bmc.eraseTimestamp);
  std::string content = std::string(stamps) + run.bmc.sdrVersionText + "\n";
  if (!run.bmc.cfgName.empty()) content += run.bmc.cfgName + "\n";
  // Replaced whole, so a version query reading it meanwhile sees the old cache or the new one.
  // A cache that cannot be written is only a lost shortcut, but every later query then reads
  // the whole repository: the log says why.
  int error = 0;
  if (!platform::WriteFileAtomically(kVersionCacheFile, content, &error)) {
    run.Log(std::string("Version cache save error.(") + kVersionCacheFile +
            ") errno=" + std::to_string(error));
  }
}

}  // namespace

bool LoadBmcSdrVersion(SdrRun& run) {
  LoadVersionCache(run);
  if (run.bmc.sdrVersionText.empty()) {
    if (!ReadWholeRepository(run)) return false;
    if (!run.bmc.sdrVersionText.empty()) WriteVersionCache(run);
  }
  return true;
}

}  // namespace veltrop
