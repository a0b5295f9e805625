#pragma once
#include <cstdint>

#include "ipmi/command.h"
#include "sdrtool/command_sender.h"
#include "sdrtool/error_catalogue.h"

// How the SDR tool names a failed command: the one place where an outcome becomes an error.
namespace veltrop {

// An answer came back, but not one the command gives (another echo, another length, a value out
// of bounds): the sender leaves it to the caller, which knows what it needed. The other failures
// (no answer, no completion code, a completion code) are the sender's to report.
bool NotTheCommandsAnswer(const ipmi::Outcome<ipmi::Done>& outcome);

// The error the sender reports for an outcome; kNone for success, for the refusals the options
// expect and for answers the caller judges.
SdrError SenderError(const ipmi::Outcome<ipmi::Done>& outcome, ipmi::NetFn netFn, SendOptions options);

// A request whose answer never came back whole may have been carried out by the BMC: the
// transfer failed on the way back, or the answer is not the command's.
bool MayHaveBeenCarriedOut(const ipmi::Outcome<ipmi::Done>& outcome);

// What the tool needed from an answer that turned out to be no answer of its command (another
// echo, another length).
enum class AnswerUse : uint8_t {
  kReservationId,  // Reserve, for the spared repository's operations and the read-back
  kRecordId,       // the first Partial Add chunk's answer, which names the record
  kUpdateLock,     // taking or committing the update lock
  kFirstPart,      // the read-back's first read of a record
  kLaterPart,      // the read-back's further reads of a record
};

// The error such an answer stands for.
SdrError MalformedAnswerError(AnswerUse use);

// Why a stand-alone command's answer was refused, for error 30's detail.
struct CommandCheck {
  enum Kind : uint8_t { kNone = 0, kNetFn = 6, kCompletion = 7, kLength = 8 };
  uint8_t kind = kNone;
  uint8_t value = 0;
};

// The check a refused answer gets: another echo by its network function byte, a completion
// code by the code, another length by the answer's length.
CommandCheck CheckOf(const ipmi::Outcome<ipmi::Done>& outcome);

}  // namespace veltrop
