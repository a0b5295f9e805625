#include "sdrtool/result_directory.h"

#include <algorithm>
#include <string>

#include "platform/files.h"

namespace veltrop {
namespace {

constexpr const char* kDescriptorName = "ExUpInfo.xml";

}  // namespace

std::string LocateResultDir() {
  if (platform::FileReadable(kDescriptorName)) return {};
  std::string current = platform::CurrentDirectory();
  // One level per separator reaches the root and no further.
  auto levels = std::count(current.begin(), current.end(), platform::PathSeparator());
  std::string prefix;
  for (decltype(levels) k = 1; k <= levels; ++k) {
    prefix += platform::ParentPrefix();
    if (platform::FileReadable(prefix + kDescriptorName)) return prefix;
  }
  return {};
}

}  // namespace veltrop
