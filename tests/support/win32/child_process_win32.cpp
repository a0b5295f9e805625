#include <windows.h>

#include <cstring>

#include "tests/support/child_process.h"

namespace testsupport {
namespace {

// Under Wine the build hands us Unix paths; Z: is the root of the Unix file system.
std::string NativePath(const std::string& path) {
  std::string p = path;
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string q = "\"";
  for (char c : arg) {
    if (c == '"') q += '\\';
    q += c;
  }
  return q + "\"";
}

// Generates a console event on the program's console from a helper process: generating one
// takes being attached to that console, which the test itself must not give up its own for.
// False when the console could not deliver it.
bool GenerateOnConsoleOf(DWORD processId, const char* event) {
  const std::string tool = NativePath(CONSOLE_EVENT_TOOL);
  std::string cmd = Quote(tool) + " " + std::to_string(processId) + " " + event;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(tool.c_str(), &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                      &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  return code == 0;
}

// Runs the process's console control handlers for event as the console host does: on a new
// thread at kernel32's CtrlRoutine (system libraries lie at the same address in every
// process). Returns the thread, or null.
HANDLE DispatchInProcess(HANDLE process, DWORD event) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  FARPROC routine = kernel32 ? GetProcAddress(kernel32, "CtrlRoutine") : nullptr;
  if (!routine) return nullptr;
  // CtrlRoutine is a thread routine; GetProcAddress knows no signatures.
  LPTHREAD_START_ROUTINE start;
  static_assert(sizeof start == sizeof routine, "both are code addresses");
  std::memcpy(&start, &routine, sizeof start);
  return CreateRemoteThread(process, nullptr, 0, start,
                            reinterpret_cast<void*>(static_cast<DWORD_PTR>(event)), 0, nullptr);
}

// What the system allows a process's handlers after a console closed before it ends the process.
constexpr DWORD kCloseGraceMs = 5000;

class Win32Child : public ChildProcess {
 public:
  Win32Child(HANDLE process, DWORD id, bool ownConsole)
      : process_(process), id_(id), ownConsole_(ownConsole) {}
  ~Win32Child() override {
    WaitForSingleObject(process_, INFINITE);
    CloseHandle(process_);
  }
  int Wait() override {
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code)) return -1;
    return static_cast<int>(code);
  }
  bool Running() override { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  void Kill() override {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
  }
  bool Interrupt(StopRequest request) override {
    if (!ownConsole_ || !Running()) return false;
    switch (request) {
      case StopRequest::kCtrlC:
        return GenerateOnConsoleOf(id_, "c");
      case StopRequest::kTerminate:
        // Wine 8 generates CTRL_C_EVENT only.
        if (GenerateOnConsoleOf(id_, "break")) return true;
        return Handled(DispatchInProcess(process_, CTRL_BREAK_EVENT), INFINITE);
      case StopRequest::kConsoleClose: {
        HANDLE handler = DispatchInProcess(process_, CTRL_CLOSE_EVENT);
        if (!Handled(handler, kCloseGraceMs)) return false;
        TerminateProcess(process_, STATUS_CONTROL_C_EXIT);
        return true;
      }
    }
    return false;
  }

 private:
  // Waits for the handler thread, at most timeoutMs; false when there was none.
  static bool Handled(HANDLE thread, DWORD timeoutMs) {
    if (!thread) return false;
    WaitForSingleObject(thread, timeoutMs);
    CloseHandle(thread);
    return true;
  }

  HANDLE process_;
  DWORD id_;
  bool ownConsole_;
};

std::unique_ptr<ChildProcess> Start(const std::string& program, const std::vector<std::string>& args,
                                    const std::string& dir, const std::string& outputFile, bool ownConsole) {
  std::string exe = NativePath(program);
  std::string cmd = Quote(exe);
  for (const auto& a : args) cmd += " " + Quote(a);
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out =
      CreateFileA(outputFile.empty() ? "nul" : NativePath(outputFile).c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = CreateFileA("nul", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = out;
  PROCESS_INFORMATION pi{};
  std::string nativeDir = NativePath(dir);
  // A console of its own keeps the events meant for it away from the test and its other
  // children. No new process group: that would turn Ctrl-C off for the program.
  const DWORD flags = ownConsole ? CREATE_NO_WINDOW : 0;
  BOOL ok = CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, flags, nullptr, nativeDir.c_str(),
                           &si, &pi);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (!ok) return nullptr;
  CloseHandle(pi.hThread);
  return std::make_unique<Win32Child>(pi.hProcess, pi.dwProcessId, ownConsole);
}

}  // namespace

std::unique_ptr<ChildProcess> StartProcess(const std::string& program, const std::vector<std::string>& args,
                                           const std::string& dir, const std::string& outputFile) {
  return Start(program, args, dir, outputFile, false);
}

std::unique_ptr<ChildProcess> StartInterruptibleProcess(const std::string& program,
                                                        const std::vector<std::string>& args,
                                                        const std::string& dir,
                                                        const std::string& outputFile) {
  return Start(program, args, dir, outputFile, true);
}

void SetEnvironment(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

}  // namespace testsupport
