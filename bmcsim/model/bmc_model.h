#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bmcsim/model/bmc_state.h"
#include "bmcsim/model/command_table.h"
#include "platform/clock.h"

namespace bmcsim {

// The BMC's command processing: one handler per (network function, command).
class BmcModel {
 public:
  BmcModel();
  // Carries out one request (at least 2 bytes) on the state and returns the response in wire
  // form: request byte 0 + 4, the command, the completion code, then data. Unknown commands
  // answer C1h. Flash cells the request changed join *flashChanges when it is given.
  wire::Bytes Handle(BmcState& state, const uint8_t* request, size_t length, platform::Clock& clock,
                     std::vector<FlashChange>* flashChanges = nullptr) const;

 private:
  CommandTable table_;
};

// A response frame for a request: header bytes and the completion code, then data.
wire::Bytes ResponseFrame(const uint8_t* request, uint8_t completionCode, const wire::Bytes& data = {});

}  // namespace bmcsim
