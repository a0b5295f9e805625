#include <windows.h>

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

class Win32Child : public ChildProcess {
 public:
  explicit Win32Child(HANDLE process) : process_(process) {}
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

 private:
  HANDLE process_;
};

}  // namespace

std::unique_ptr<ChildProcess> StartProcess(const std::string& program, const std::vector<std::string>& args,
                                           const std::string& dir, const std::string& outputFile) {
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
  BOOL ok =
      CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nativeDir.c_str(), &si, &pi);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (!ok) return nullptr;
  CloseHandle(pi.hThread);
  return std::make_unique<Win32Child>(pi.hProcess);
}

void SetEnvironment(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

}  // namespace testsupport
