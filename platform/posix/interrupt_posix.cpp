#include <signal.h>

#include "platform/interrupt.h"
#include "platform/posix/stop_wait.h"

namespace platform {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int) {
  RequestInterrupt();
}

}  // namespace

sigset_t internal::StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a sleep or a wait for the BMC ends early and the loop looks at the flag.
  action.sa_flags = 0;
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

void NoteCleanupDone() {}

}  // namespace platform
