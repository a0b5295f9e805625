#pragma once
#include <cstdint>

namespace korvane {

class FwRun;

// Each returns 0, or 1 after reporting its result code; none sends anything in the query
// modes.

// Saves channel 2's volatile access setting, asked twice (answers that differ, or a setting the
// channel cannot have: C17, nothing disabled), and disables the channel for the update. When the
// disable fails, a restore follows: the BMC may have applied it with only its answer lost.
int GetChannelAccess(FwRun& run);
// Sets channel 2's volatile access byte (the privilege byte as given: with its top bits clear
// the privilege limit is left as it is) and reads the setting back; a change the channel does
// not show is sent again, three sendings in all, then C18.
int SetChannelAccess(FwRun& run, uint8_t access, uint8_t privilege);
// Puts the saved setting back and reads it back, trying up to three times before it reports
// C18; once per saved setting, so every way out of the run may call it.
int RestoreChannelAccess(FwRun& run);

}  // namespace korvane
