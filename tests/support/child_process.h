#pragma once
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// How a running program is asked to stop from outside.
enum class StopRequest {
  // Linux: SIGINT. Windows: CTRL_C_EVENT, generated on the program's console.
  kCtrlC,
  // Linux: SIGTERM. Windows: CTRL_BREAK_EVENT, generated on the program's console; where the
  // console cannot generate it (Wine), handed to the program as the console host hands events
  // over (kernel32's CtrlRoutine on a thread of the program).
  kTerminate,
  // Linux: SIGHUP. Windows: CTRL_CLOSE_EVENT handed over as the console host does when its
  // window closes, and then, as the system does, the end of the process once its handlers have
  // returned or five seconds have passed.
  kConsoleClose,
};

// A program started by a test, running beside it.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // Waits for the end; the exit status, or -1 when it cannot be told.
  virtual int Wait() = 0;
  // True while the process runs.
  virtual bool Running() = 0;
  // Ends the process at once, as a crash or a kill from outside does (SIGKILL, TerminateProcess:
  // nothing of its own runs), and waits until it is gone.
  virtual void Kill() = 0;
  // Sends the stop request; false when it could not be delivered (the process has ended, or on
  // Windows was not started with StartInterruptibleProcess).
  virtual bool Interrupt(StopRequest request) = 0;
};

// Starts program with args in dir, stdin from stdinText (may be empty), output discarded
// into outputFile when given. Environment variables are inherited. Null on failure.
std::unique_ptr<ChildProcess> StartProcess(const std::string& program, const std::vector<std::string>& args,
                                           const std::string& dir, const std::string& outputFile = {});

// As StartProcess, so that Interrupt reaches the program: on Windows it gets a console of its
// own (without a window), as a program started from a command prompt has one.
std::unique_ptr<ChildProcess> StartInterruptibleProcess(const std::string& program,
                                                        const std::vector<std::string>& args,
                                                        const std::string& dir,
                                                        const std::string& outputFile = {});

// Runs to the end and returns the exit status.
int RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
               const std::string& outputFile = {});

void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace testsupport
