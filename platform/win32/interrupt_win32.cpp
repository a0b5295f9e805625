#include <windows.h>

#include "platform/interrupt.h"
#include "platform/win32/stop_wait.h"

namespace platform {
namespace {

HANDLE cleanupDone = nullptr;
// Set with the first request, so that a sleep under way wakes up for it.
HANDLE stopRequested = nullptr;
// The system ends the process a few seconds after a console-close handler was called; the
// cleanup gets as much of that as it can.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  RequestInterrupt();
  if (stopRequested) SetEvent(stopRequested);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Returning lets the system end the process: wait for the run's cleanup first.
    if (cleanupDone) WaitForSingleObject(cleanupDone, kCloseGraceMs);
  }
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers() {
  if (!cleanupDone) cleanupDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!stopRequested) stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

namespace internal {

void SleepUnlessStopped(uint32_t ms) {
  if (!stopRequested || InterruptRequested()) {
    Sleep(ms);
  } else {
    WaitForSingleObject(stopRequested, ms);
  }
}

}  // namespace internal

void NoteCleanupDone() {
  if (cleanupDone) SetEvent(cleanupDone);
}

}  // namespace platform
