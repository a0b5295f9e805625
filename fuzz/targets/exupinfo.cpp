// The package descriptor ExUpInfo.xml as the firmware tool reads its version. Input: the file.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/support/workspace.h"
#include "platform/testing/memory_console.h"
#include "fwtool/package_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Nothing but the one file is ever written here: no clearing needed.
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  workspace.Write("ExUpInfo.xml", data, size);
  platform::MemoryConsole console;
  char version[8] = {};
  const int result = korvane::ReadExUpInfoVersion(version, console);
  if (result == 0) {
    const size_t length = strnlen(version, sizeof version);
    if (length == 0 || length > 5) fuzzing::Die("a version text of no or more than five characters");
  } else if (result < -4 || result > 0) {
    fuzzing::Die("a result outside the documented ones");
  }
  return 0;
}
