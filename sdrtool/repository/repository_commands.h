#pragma once
#include <cstdint>

#include "ipmi/command.h"
#include "sdrtool/command_errors.h"
#include "sdrtool/command_sender.h"
#include "wire/byte_io.h"

// The stand-alone commands (Get Device ID, Get SDR Repository Info, Reserve and Get SDR of the
// whole-repository read, the OEM E0h query) and the error 30 that tells why one failed.
namespace veltrop {

class SdrRun;

// Sends a stand-alone command. An answer refused by its own check (another echo, another
// length) leaves the reason in *check; the failures the sender reports leave *check alone.
template <typename T>
ipmi::Outcome<T> SendChecked(CommandSender& sender, const ipmi::Command<T>& command, CommandCheck* check,
                             SendOptions options = {}) {
  ipmi::Outcome<T> out = sender.Send(command, options);
  const ipmi::Outcome<ipmi::Done> failure = out.template As<ipmi::Done>();
  if (NotTheCommandsAnswer(failure)) *check = CheckOf(failure);
  return out;
}

// Reads the whole record *recordId (0: the first) of the active repository into *record,
// re-reserving after 0xC5 (not in the version query, which must not disturb an update's
// reservations), and replaces *recordId by the next record's ID. A refused answer leaves its
// reason in *check, a refused Get SDR its completion code too (0xC5 once the reservations are
// used up).
bool GetSdrRecord(SdrRun& run, uint16_t* recordId, wire::Bytes* record, CommandCheck* check);

// Reports a refused answer as error 30 with the command's name; returns the report's result.
SdrError ReportCommandError(SdrRun& run, const char* commandName, const CommandCheck& check);

}  // namespace veltrop
