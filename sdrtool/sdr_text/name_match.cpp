#include "sdrtool/sdr_text/name_match.h"

#include "wire/text_compare.h"

namespace veltrop {
namespace {

constexpr size_t kMatchPositions = 32;

}  // namespace

bool NameMatchesTag(std::string_view name, std::string_view tag) {
  for (size_t i = 0; i < kMatchPositions; ++i) {
    const bool tagEnds = i >= tag.size() || tag[i] == '\0';
    const bool nameEnds = i >= name.size() || name[i] == '\0';
    if (tagEnds || nameEnds) return tagEnds && nameEnds;
    const char t = wire::AsciiUpper(tag[i]);
    const char n = wire::AsciiUpper(name[i]);
    if (t != n && !(t == '#' && n >= '0' && n <= '9')) return false;
  }
  return true;
}

bool NameMatch(const SetNameList& names, std::string_view tag) {
  for (const std::string& name : names) {
    if (NameMatchesTag(name, tag)) return true;
  }
  return false;
}

}  // namespace veltrop
