#pragma once

namespace platform {

// Ctrl-C, a termination request and a closing console ask the run to stop at its next safe
// point instead of ending the process: an update must still release what it holds (the BMC's
// update lock, channel 2, the progress file). Further requests change nothing, so a second
// Ctrl-C cannot cut the cleanup short.
void InstallInterruptHandlers();
bool InterruptRequested();
// What the handlers do; also for tests, which interrupt a run in their own process.
void RequestInterrupt();
void ClearInterrupt();
// The run has cleaned up: a console that is closing may now take the process with it.
void NoteCleanupDone();

}  // namespace platform
