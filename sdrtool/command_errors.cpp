#include "sdrtool/command_errors.h"

namespace veltrop {

bool NotTheCommandsAnswer(const ipmi::Outcome<ipmi::Done>& outcome) {
  return outcome.failure == ipmi::Failure::kMalformed &&
         outcome.malformed != ipmi::Malformed::kNoCompletionCode;
}

SdrError SenderError(const ipmi::Outcome<ipmi::Done>& outcome, ipmi::NetFn netFn, SendOptions options) {
  switch (outcome.failure) {
    case ipmi::Failure::kNone:
      return SdrError::kNone;
    case ipmi::Failure::kTransport:
      return outcome.status == transport::kDriverUnreachable ? SdrError::kDriverOpenFailed
                                                             : SdrError::kSendFailed;
    case ipmi::Failure::kMalformed:
      // Without a completion code nothing in the answer can be trusted.
      return outcome.malformed == ipmi::Malformed::kNoCompletionCode ? SdrError::kSendFailed
                                                                     : SdrError::kNone;
    case ipmi::Failure::kCompletionCode:
      if (options.quietCompletion) return SdrError::kNone;
      if (options.reservationLossExpected && outcome.completionCode == ipmi::kCcReservationCancelled) {
        return SdrError::kNone;
      }
      return netFn == ipmi::NetFn::kOem ? SdrError::kSparedCommandUnsupported : SdrError::kBadCompletionCode;
  }
  return SdrError::kNone;
}

bool MayHaveBeenCarriedOut(const ipmi::Outcome<ipmi::Done>& outcome) {
  switch (outcome.failure) {
    case ipmi::Failure::kTransport:
      return outcome.status != transport::kDriverUnreachable;
    case ipmi::Failure::kMalformed:
      return true;
    default:
      return false;
  }
}

SdrError MalformedAnswerError(AnswerUse use) {
  switch (use) {
    case AnswerUse::kReservationId:
    case AnswerUse::kRecordId:
    case AnswerUse::kFirstPart:
      return SdrError::kWrongByteCount;
    case AnswerUse::kLaterPart:
      return SdrError::kRecordReadError;
    case AnswerUse::kUpdateLock:
      return SdrError::kSendFailed;
  }
  return SdrError::kSendFailed;
}

CommandCheck CheckOf(const ipmi::Outcome<ipmi::Done>& outcome) {
  CommandCheck check;
  switch (outcome.failure) {
    case ipmi::Failure::kCompletionCode:
      check.kind = CommandCheck::kCompletion;
      check.value = outcome.completionCode;
      break;
    case ipmi::Failure::kMalformed:
      if (outcome.malformed == ipmi::Malformed::kWrongEcho) {
        check.kind = CommandCheck::kNetFn;
        check.value = outcome.answerNetFn;
      } else if (outcome.malformed != ipmi::Malformed::kNoCompletionCode) {
        check.kind = CommandCheck::kLength;
        check.value = outcome.answerLength;
      }
      break;
    default:
      break;
  }
  return check;
}

}  // namespace veltrop
