#pragma once
#include <functional>
#include <string>

#include "platform/testing/memory_console.h"
#include <vector>

#include "platform/testing/virtual_clock.h"
#include "status/status_files.h"

namespace statustest {

// A virtual clock that lets a test act during a pause (n counts the pauses from 1).
class ScriptedClock : public platform::VirtualClock {
 public:
  std::function<void(unsigned n)> onSleep;
  void SleepMs(uint32_t ms) override {
    VirtualClock::SleepMs(ms);
    if (onSleep) onSleep(SleepCount());
  }
};

// Hooks that place every file in dir and record what the library logs and reports.
struct RecordingHooks {
  explicit RecordingHooks(std::string dir);
  status::StatusHooks Make();

  std::string dir;
  ScriptedClock clock;
  platform::MemoryConsole console;
  std::vector<std::string> logLines;
  std::vector<std::string> reports;
  std::vector<int> exits;
};

// The tree of the file at path as the platform's XML parser sees it, or "unreadable: ...".
std::string TreeOf(const std::string& path);

std::string UniqueLockName(const std::string& base);

}  // namespace statustest
