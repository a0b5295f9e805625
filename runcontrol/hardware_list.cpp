#include "runcontrol/hardware_list.h"

#include <cstdio>

#include "wire/text_compare.h"

namespace runcontrol {
namespace {

constexpr long kMaxListBytes = 1 << 20;

}  // namespace

HardwareListResult FindHardwareId(const std::string& path, const std::string& hardwareId) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return HardwareListResult::kUnreadable;
  std::string line;
  HardwareListResult result = HardwareListResult::kNotListed;
  for (long read = 0;; ++read) {
    const int c = read < kMaxListBytes ? std::fgetc(f) : EOF;
    if (c == EOF || c == '\n') {
      if (line.find(hardwareId) != std::string::npos) {
        result = HardwareListResult::kListed;
        break;
      }
      line.clear();
      if (c == EOF) break;
      continue;
    }
    line += wire::AsciiLower(static_cast<char>(c));
  }
  std::fclose(f);
  return result;
}

}  // namespace runcontrol
