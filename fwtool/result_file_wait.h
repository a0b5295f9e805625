#pragma once
#include <string>

#include "platform/clock.h"

namespace korvane {

// A final update result waits until the manager has taken the previous one away: up to 61
// pauses of 500 ms while path exists.
enum class ResponseFileWait {
  kGone,         // the file was not there, or the manager removed it
  kOverwriting,  // it stayed for all pauses; the caller overwrites it
};
ResponseFileWait WaitResponseFileConsumed(platform::Clock& clock, const std::string& path);

}  // namespace korvane
