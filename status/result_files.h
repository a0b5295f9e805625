#pragma once
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/console.h"
#include "status/result_kind.h"
#include "status/xml_document.h"

namespace status {

// Where a program puts its files and whether this run writes any: plain values the program
// sets once it knows its run mode.
struct ResultFilePlacement {
  // Prefixed to the file name of every kind but the progress working file.
  std::string resultPrefix;
  // Prefixed to "Get_ratio.xml_tmp".
  std::string workFilePrefix;
  // False in runs that write no result files at all (operator runs, no run mode).
  bool enabled = true;
};

enum class RatioQueryOutcome {
  kCopied,     // the answer file is a copy of the working file
  kNoCommand,  // no update runs: "No-Command" was written
  kTimedOut,   // 12 copies failed; the caller reports its time-out code
};

// The result files of one run.
class ResultFiles {
 public:
  explicit ResultFiles(platform::Console& console) : console_(console) {}

  ResultFilePlacement placement;

  std::string PathOf(ResultKind kind) const;

  // Writes the Response document of the kind, replacing the file whole. kSaved also when the
  // run writes no files (nothing to do). kUnavailable: the XML machinery cannot start at
  // all; what follows is the program's decision.
  XmlSaveResult Write(ResultKind kind, const std::string& resultCode, const std::string& data,
                      const std::string& version);

  // The progress working file with "OK" and the ratio as decimal text.
  XmlSaveResult PublishProgress(int32_t ratio);

  // Copies the working file to the answer file, up to 12 copies 500 ms apart, or answers
  // "No-Command" when no working file exists. *saved receives the outcome of that answer.
  RatioQueryOutcome AnswerRatioQuery(platform::Clock& clock, XmlSaveResult* saved);

 private:
  platform::Console& console_;
};

}  // namespace status
