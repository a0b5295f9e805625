#include <windows.h>

#include "platform/process.h"

namespace platform {

void RequestRealtimePriority() {
  (void)SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
}

std::string RunningProgramPath() {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  if (n == 0 || n > MAX_PATH) return {};
  return std::string(buf, n);
}

unsigned long CurrentProcessId() {
  return GetCurrentProcessId();
}

}  // namespace platform
