#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/testing/memory_console.h"
#include "platform/testing/virtual_clock.h"
#include "runcontrol/run_environment.h"

namespace fuzzing {

// The private directory of this process's fuzz target: made and entered at the first call,
// removed at exit. The programs take most files by name in the current directory.
class Workspace {
 public:
  static Workspace& Enter();
  // Removes everything in the directory, so no input sees what an earlier one left.
  void Clear();
  void Write(const std::string& name, std::string_view content) const;
  void Write(const std::string& name, const uint8_t* data, size_t size) const {
    Write(name, std::string_view(reinterpret_cast<const char*>(data), size));
  }
  const std::string& path() const { return path_; }

 private:
  Workspace();
  std::string path_;
};

// A virtual clock that stops the process when a run waits longer than any run may: a loop
// that sleeps without end would otherwise pass unseen, each pause costing no real time.
class BoundedClock : public platform::VirtualClock {
 public:
  static constexpr uint64_t kMaxSleptMs = 7ull * 24 * 3600 * 1000;
  void SleepMs(uint32_t ms) override;
};

// With FUZZ_SHOW_FILES set in the environment, prints the text files a run left (logs, result
// files) to stderr: to see how far a corpus input gets.
void ShowRunFiles();

// The result code of a result file the run wrote into the workspace ("Complete", "C16", ...);
// empty when there is no such file or it holds no result code.
std::string ResultCode(const std::string& name);

// Stops the process with a message that libFuzzer reports as a crash.
[[noreturn]] void Die(const char* what);

// What one in-process run needs: a bounded virtual clock, a memory console, the workspace's
// private lock and no Microsoft driver.
struct RunFrame {
  explicit RunFrame(transport::IpmiDriver* driver, std::string consoleInput = {});
  BoundedClock clock;
  platform::MemoryConsole console;
  runcontrol::RunEnvironment env;
};

// Splits data at NUL bytes into at most maxParts pieces (the last one keeps the rest).
std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size, size_t maxParts);

}  // namespace fuzzing
