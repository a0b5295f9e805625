#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tests/support/child_process.h"

namespace testsupport {
namespace {

class PosixChild : public ChildProcess {
 public:
  explicit PosixChild(pid_t pid) : pid_(pid) {}
  ~PosixChild() override {
    if (!done_) Wait();
  }
  int Wait() override {
    if (done_) return status_;
    int st = 0;
    pid_t r;
    while ((r = waitpid(pid_, &st, 0)) < 0 && errno == EINTR) {
    }
    done_ = true;
    if (r != pid_) return status_;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return status_;
  }
  bool Running() override {
    if (done_) return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == 0) return true;
    done_ = true;
    status_ = r == pid_ && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return false;
  }
  void Kill() override {
    if (done_) return;
    kill(pid_, SIGKILL);
    Wait();
  }
  bool Interrupt(StopRequest request) override {
    if (done_) return false;
    const int signal = request == StopRequest::kCtrlC       ? SIGINT
                       : request == StopRequest::kTerminate ? SIGTERM
                                                            : SIGHUP;
    return kill(pid_, signal) == 0;
  }

 private:
  pid_t pid_;
  bool done_ = false;
  int status_ = -1;
};

}  // namespace

std::unique_ptr<ChildProcess> StartProcess(const std::string& program, const std::vector<std::string>& args,
                                           const std::string& dir, const std::string& outputFile) {
  pid_t pid = fork();
  if (pid < 0) return nullptr;
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    int out = open(outputFile.empty() ? "/dev/null" : outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return std::make_unique<PosixChild>(pid);
}

// Signals reach any child.
std::unique_ptr<ChildProcess> StartInterruptibleProcess(const std::string& program,
                                                        const std::vector<std::string>& args,
                                                        const std::string& dir,
                                                        const std::string& outputFile) {
  return StartProcess(program, args, dir, outputFile);
}

void SetEnvironment(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace testsupport
