#pragma once
#include "platform/console.h"

namespace runcontrol {

// The operator's confirmation of a local update: asks until a y/n answer, discarding the
// rest of each input line. End of input counts as "n" so the run never asks for ever.
bool ConfirmUpdate(platform::Console& console);

}  // namespace runcontrol
