#include <windows.h>

#include <ctime>

#include "platform/clock.h"
#include "platform/win32/stop_wait.h"

namespace platform {
namespace {

class Win32Clock : public Clock {
 public:
  LocalTime Local() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
  }
  int64_t WallSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
  uint64_t MonotonicMs() override { return GetTickCount64(); }
  void SleepMs(uint32_t ms) override { internal::SleepUnlessStopped(ms); }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace platform
