#pragma once
// Between the POSIX clock and the signal handlers; not for use outside platform/ and its tests.
#include <signal.h>

namespace platform::internal {

// The signals that ask a run to stop (Ctrl-C, a termination request, a closing terminal).
sigset_t StopSignals();

// Tests only: called by a sleep after it has looked at the stop request and before it waits,
// so a test can deliver a signal exactly there. Null (as in the programs): nothing is called.
using BeforeWaitHook = void (*)();
void SetBeforeWaitHook(BeforeWaitHook hook);

}  // namespace platform::internal
