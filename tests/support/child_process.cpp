#include "tests/support/child_process.h"

namespace testsupport {

int RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
               const std::string& outputFile) {
  auto child = StartProcess(program, args, dir, outputFile);
  return child ? child->Wait() : -1;
}

}  // namespace testsupport
