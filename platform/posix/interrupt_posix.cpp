#include <signal.h>

#include <initializer_list>

#include "platform/interrupt.h"

namespace platform {
namespace {

void OnSignal(int) {
  RequestInterrupt();
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a sleep or a wait for the BMC ends early and the loop looks at the flag.
  action.sa_flags = 0;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void NoteCleanupDone() {}

}  // namespace platform
