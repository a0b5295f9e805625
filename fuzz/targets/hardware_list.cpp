// The list of supported machines (mchk_fil). Input: the file. The answer is checked against a
// plain reading of the same rule: an ID anywhere in a line, the line taken in lower case.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/support/workspace.h"
#include "runcontrol/hardware_list.h"

namespace {

bool Listed(const std::string& content, const std::string& id) {
  std::string lower = content.substr(0, 1 << 20);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  size_t start = 0;
  while (start <= lower.size()) {
    size_t end = lower.find('\n', start);
    if (end == std::string::npos) end = lower.size();
    if (lower.substr(start, end - start).find(id) != std::string::npos) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Nothing but the one file is ever written here: no clearing needed.
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  const std::string content(reinterpret_cast<const char*>(data), size);
  workspace.Write("mchk_fil", content);
  for (const char* id : {"0100", "3a2f"}) {
    const runcontrol::HardwareListResult result = runcontrol::FindHardwareId("mchk_fil", id);
    if (result == runcontrol::HardwareListResult::kUnreadable) fuzzing::Die("a written list is unreadable");
    if ((result == runcontrol::HardwareListResult::kListed) != Listed(content, id))
      fuzzing::Die("the list lookup disagrees with the rule");
  }
  return 0;
}
