#include <sys/resource.h>
#include <unistd.h>

#include <climits>

#include "platform/process.h"

namespace platform {

void RequestRealtimePriority() {
  // Best effort: a real-time scheduling class could starve the system, so only ask for the
  // highest normal priority. Unprivileged processes are refused, which is fine.
  (void)setpriority(PRIO_PROCESS, 0, -20);
}

std::string RunningProgramPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

unsigned long CurrentProcessId() {
  return static_cast<unsigned long>(getpid());
}

}  // namespace platform
