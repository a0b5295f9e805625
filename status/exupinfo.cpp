#include <cstring>
#include <string>

#include "status/package_files.h"
#include "status/xml_document.h"

namespace status {
namespace {

// The caller's buffer takes five characters and the terminator.
constexpr size_t kMaxVersionChars = 5;

}  // namespace

int ReadExUpInfoVersion(char out[8], platform::Console& console) {
  std::string text;
  XmlTextResult result = ReadFirstElementText("ExUpInfo.xml", "version", &text, console);
  switch (result) {
    case XmlTextResult::kFound:
      break;
    case XmlTextResult::kUnavailable:
      return -1;
    case XmlTextResult::kNotLoaded:
      return -2;
    case XmlTextResult::kNoElement:
      return -3;
    case XmlTextResult::kEmptyOrError:
      return -4;
  }
  // A longer text cut to five characters would compare as some other version; refuse it.
  if (text.empty() || text.size() > kMaxVersionChars) return -4;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

}  // namespace status
