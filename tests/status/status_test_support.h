#pragma once
#include <functional>
#include <string>

#include "platform/testing/virtual_clock.h"

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

// The tree of the file at path as the platform's XML parser sees it, or "unreadable: ...".
std::string TreeOf(const std::string& path);

std::string UniqueLockName(const std::string& base);

}  // namespace statustest
