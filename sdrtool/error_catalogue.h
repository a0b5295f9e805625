#pragma once
#include <cstdint>

namespace runcontrol {
class RunContext;
}

namespace veltrop {

struct CommandTrace;

// The SDR tool's numbered errors. The numbers are fixed: result files show the first error of
// a run as "SDR%03d".
enum class SdrError : uint8_t {
  kNone = 0,
  kInvalidRecordData = 1,
  kInsufficientMemory = 2,
  kInvalidHexDigitCount = 3,
  kRecordReadError = 4,
  kWrongByteCount = 5,
  kArgumentNotAllowed = 6,
  kArgumentTooLong = 7,
  kArgumentLengthExceeded = 8,
  kInvalidSdrNameArgument = 9,
  kInvalidArgument = 10,
  kInvalidCommand = 11,
  kInvalidComment = 12,
  kInvalidConfigString = 13,
  kQuoteMissingAfterCommand = 14,
  kArgumentMissing = 15,
  kIfSetWithoutCondition = 16,
  kElseWithoutIfSet = 17,
  kEndIfWithoutIfSet = 18,
  kUnmatchedIfSet = 19,
  kUnmatchedQuotes = 20,
  kConfigParsing = 21,
  kConfigLineParsing = 22,
  kConfigReadProblem = 23,
  kTooManyArguments = 24,
  kClearFailed = 25,
  kBadCompletionCode = 26,
  kRetriesExhausted = 27,
  kDriverOpenFailed = 28,
  kSendFailed = 29,
  kBackupCommandError = 30,
  kBackupFileIo = 31,
  kCompareMismatch = 32,
  kWriteFailed = 33,
  kDevAddressHexExpected = 34,
  kDevBusHexExpected = 35,
  kDataLenHexExpected = 36,
  kRecLenHexExpected = 37,
  kSdrTypeHexExpected = 38,
  kStartAddrHexExpected = 39,
  kDataLenOutOfPlace = 40,
  kDevAddressOutOfPlace = 41,
  kDevBusOutOfPlace = 42,
  kSdrTagExpected = 43,
  kIpmiVersionOutOfPlace = 44,
  kLeftParenthesisExpected = 45,
  kLfFmtVerOutOfPlace = 46,
  kLfNameNotFirst = 47,
  kLfVersionOutOfPlace = 48,
  kNvsTypeOutOfPlace = 49,
  kRecLenOutOfPlace = 50,
  kStartAddrNotFirst = 51,
  kLfFmtVerTextExpected = 52,
  kLfNameTextExpected = 53,
  kNvsTypeUnsupported = 54,
  kIpmiVersionTextExpected = 55,
  kLfVersionTextExpected = 56,
  kInvalidRecord = 57,
  kInvalidRecordLength = 58,
  kFileFormatUnsupported = 59,
  kSdrFormatUnsupported = 60,
  kSdrFormatTooOld = 61,
  kSdrFileParsing = 62,
  kSdrTagTextExpected = 63,
  kCfgTempOpenFailed = 64,
  kSdrTempOpenFailed = 65,
  kInputFileOpenFailed = 66,
  kConfigFileOpenFailed = 67,
  kSdrFileOpenFailed = 68,
  kInvalidCharacter = 69,
  kInvalidCharacterOnLine = 70,
  kFileTooLarge = 71,
  kLineTooLong = 72,
  kTempFileWriteFailed = 73,
  kConfigNameNotFound = 74,
  kNotABackupImage = 75,
  kImageChecksum = 76,
  kSparedCommandUnsupported = 77,
  kOutputImageOpenFailed = 78,
  kMsDriverRetriesFailed = 79,
  // Failed, and the log already says why: nothing more is reported.
  kAlreadyReported = 81,
};

constexpr int ErrorNumber(SdrError error) {
  return static_cast<int>(error);
}

// The catalogue text of an error number 1..79, or nullptr.
const char* ErrorText(int number);

// Reports the SDR tool's numbered errors: a log line "Error, " with the number's text and
// detail, the last command's trace for the transfer errors, and the first error of the run
// into the mode's result file as "SDR%03d".
class ErrorReporter {
 public:
  ErrorReporter(runcontrol::RunContext& run, const CommandTrace& trace) : run_(run), trace_(trace) {}

  // Returns the error reported: kNone for kNone; kAlreadyReported for itself, for 80 and for
  // numbers outside the catalogue (whose line is the bare "Error, ").
  SdrError Report(SdrError error, uint16_t value = 0, const char* detail = nullptr);

 private:
  runcontrol::RunContext& run_;
  const CommandTrace& trace_;
  bool firstErrorPending_ = true;
};

}  // namespace veltrop
