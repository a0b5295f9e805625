#include <windows.h>

#include "platform/interrupt.h"

namespace platform {
namespace {

HANDLE cleanupDone = nullptr;
// The system ends the process a few seconds after a console-close handler was called; the
// cleanup gets as much of that as it can.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  RequestInterrupt();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Returning lets the system end the process: wait for the run's cleanup first.
    if (cleanupDone) WaitForSingleObject(cleanupDone, kCloseGraceMs);
  }
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers() {
  if (!cleanupDone) cleanupDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void NoteCleanupDone() {
  if (cleanupDone) SetEvent(cleanupDone);
}

}  // namespace platform
