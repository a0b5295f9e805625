#include "status/com_error_report.h"

#include <cstdio>

namespace status {

std::string ComErrorReport(uint32_t code, std::string systemMessage, const std::string& source,
                           const std::string& description) {
  while (!systemMessage.empty() && (systemMessage.back() == '\n' || systemMessage.back() == '\r')) {
    systemMessage.pop_back();
  }
  char buf[64];
  std::string meaning;
  if (!systemMessage.empty()) {
    meaning = systemMessage;
  } else if (code >= 0x80040200u && code <= 0x8004FFFFu) {
    std::snprintf(buf, sizeof buf, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
    meaning = buf;
  } else {
    std::snprintf(buf, sizeof buf, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
    meaning = buf;
  }
  std::snprintf(buf, sizeof buf, "\a\tCode = %08lx\n", static_cast<unsigned long>(code));
  std::string report = "Error\n";
  report += buf;
  report += "\a\tCode meaning = " + meaning;
  report += "\a\tSource = " + source + "\n";
  report += "\a\tDescription = " + description + "\n";
  return report;
}

}  // namespace status
