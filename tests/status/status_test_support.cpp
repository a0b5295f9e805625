#include "tests/status/status_test_support.h"

#include "platform/files.h"
#include "platform/process.h"
#include "tests/status/xml_tree.h"

namespace statustest {

std::string TreeOf(const std::string& path) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes)) return "unreadable: missing";
  std::string tree, error;
  if (!DescribeXml(bytes, &tree, &error)) return "unreadable: " + error;
  return tree;
}

std::string UniqueLockName(const std::string& base) {
  static unsigned counter = 0;
  return base + "-" + std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(++counter);
}

}  // namespace statustest
