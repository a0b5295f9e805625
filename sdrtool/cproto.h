#pragma once
#include <cstddef>
#include <cstdint>

#include "sdrtool/lib_funct.h"

namespace veltrop {

// The SDR tool's command layer: one IPMI command with its trace and error reporting.
class CProto : public LibFunct {
 public:
  explicit CProto(VeltropRun& run) : LibFunct(run) {}

  // Pauses 1 ms, sends the request, keeps the "Snd: "/"Rec: " trace lines and turns
  // transport failures (28, 29) and bad completion codes (26, 77, or 81 when masked or
  // quiet) into error numbers. 0 on success. *responseLength receives the response length.
  int SendCommand(const uint8_t* request, int requestLength, uint8_t* response, size_t responseCapacity,
                  int* responseLength);
};

}  // namespace veltrop
