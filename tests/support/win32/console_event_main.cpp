// console_event PID c|break: generates Ctrl-C or Ctrl-Break on the console of process PID, as
// typing it there does. Exit status 0 when the console took the event, 2 on a usage error, 3
// when that console cannot be attached, 4 when the console refused the event.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const DWORD processId = std::strtoul(argv[1], nullptr, 10);
  const DWORD event = std::strcmp(argv[2], "break") == 0 ? CTRL_BREAK_EVENT : CTRL_C_EVENT;
  // Generating an event takes being attached to the console it is meant for.
  FreeConsole();
  if (!AttachConsole(processId)) return 3;
  // The event reaches every process of the console, this one too.
  SetConsoleCtrlHandler(nullptr, TRUE);
  return GenerateConsoleCtrlEvent(event, 0) ? 0 : 4;
}
