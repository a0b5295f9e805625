#pragma once
#include <string>

namespace testsupport {

// The tree of a Response document as the update manager reads it.
struct ResultTree {
  bool parsed = false;
  std::string resultCode;
  std::string data;     // text of data (ratio kinds)
  bool hasCmp = false;  // data holds cmp and version (version kind)
  std::string cmp;
  std::string version;
};

// Reads a result file written by either XML backend; parsed is false when the file is missing
// or not of the expected shape.
ResultTree ReadResultFile(const std::string& path);

}  // namespace testsupport
