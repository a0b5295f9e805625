#pragma once
#include <string>
#include <vector>

namespace testsupport {

// The texts of a program log: each line without its "YYYY/MM/DD hh:mm:ss  " stamp and line end.
std::vector<std::string> ReadLogTexts(const std::string& path);

}  // namespace testsupport
