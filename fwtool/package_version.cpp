#include "fwtool/package_version.h"

#include <cstring>
#include <string>

#include "status/xml_document.h"

namespace korvane {
namespace {

// The caller's buffer takes five characters and the terminator.
constexpr size_t kMaxVersionChars = 5;

}  // namespace

int ReadExUpInfoVersion(char out[8], platform::Console& console) {
  std::string text;
  switch (status::ReadFirstElementText("ExUpInfo.xml", "version", &text, console)) {
    case status::XmlTextResult::kFound:
      break;
    case status::XmlTextResult::kUnavailable:
      return -1;
    case status::XmlTextResult::kNotLoaded:
      return -2;
    case status::XmlTextResult::kNoElement:
      return -3;
    case status::XmlTextResult::kEmptyOrError:
      return -4;
  }
  // A longer text cut to five characters would compare as some other version; refuse it.
  if (text.empty() || text.size() > kMaxVersionChars) return -4;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

}  // namespace korvane
