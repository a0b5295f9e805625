#pragma once
#include <cstdint>
#include <cstdio>

#include "sdrtool/prg_error.h"

namespace veltrop {

// An open text file read line by line into a 256-byte buffer.
struct FileContext {
  std::FILE* file = nullptr;
  char line[256] = {};
  int cursor = -1;  // -1: the buffer holds no line
  int lineCount = 0;
};

// File, hex-conversion, name-match and record-dump routines shared by the SDR tool's parsers.
class LibFunct : public PrgError {
 public:
  explicit LibFunct(VeltropRun& run) : PrgError(run) {}
};

}  // namespace veltrop
