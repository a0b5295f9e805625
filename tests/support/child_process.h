#pragma once
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

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
};

// Starts program with args in dir, stdin from stdinText (may be empty), output discarded
// into outputFile when given. Environment variables are inherited. Null on failure.
std::unique_ptr<ChildProcess> StartProcess(const std::string& program, const std::vector<std::string>& args,
                                           const std::string& dir, const std::string& outputFile = {});

// Runs to the end and returns the exit status.
int RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
               const std::string& outputFile = {});

void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace testsupport
