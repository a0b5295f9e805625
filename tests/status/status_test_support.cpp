#include "tests/status/status_test_support.h"

#include "platform/files.h"
#include "platform/process.h"
#include "tests/status/xml_tree.h"

namespace statustest {

RecordingHooks::RecordingHooks(std::string directory) : dir(std::move(directory)) {}

status::StatusHooks RecordingHooks::Make() {
  status::StatusHooks hooks;
  hooks.clock = &clock;
  hooks.console = &console;
  hooks.pathFor = [this](status::ResultKind kind) {
    return platform::JoinPath(dir, status::ResultFileName(kind));
  };
  hooks.log = [this](const std::string& line) { logLines.push_back(line); };
  hooks.reportResult = [this](const std::string& code) { reports.push_back(code); };
  hooks.exitProcess = [this](int status) { exits.push_back(status); };
  hooks.lockName = UniqueLockName("statustest.exe");
  hooks.lockDir = dir;
  hooks.ratioTimeoutCode = "SDRC08";
  return hooks;
}

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
