#include "status/result_files.h"

#include "platform/files.h"
#include "status/result_document.h"

namespace status {
namespace {

constexpr int kRatioCopyAttempts = 12;
constexpr uint32_t kRatioCopyPauseMs = 500;

}  // namespace

std::string ResultFiles::PathOf(ResultKind kind) const {
  const std::string& prefix =
      kind == ResultKind::RatioWorkFile ? placement.workFilePrefix : placement.resultPrefix;
  return prefix + ResultFileName(kind);
}

XmlSaveResult ResultFiles::Write(ResultKind kind, const std::string& resultCode, const std::string& data,
                                 const std::string& version) {
  if (!placement.enabled) return XmlSaveResult::kSaved;
  return SaveXmlDocument(BuildResultDocument(kind, resultCode, data, version), PathOf(kind), console_);
}

XmlSaveResult ResultFiles::PublishProgress(int32_t ratio) {
  return Write(ResultKind::RatioWorkFile, "OK", std::to_string(ratio), "");
}

RatioQueryOutcome ResultFiles::AnswerRatioQuery(platform::Clock& clock, XmlSaveResult* saved) {
  *saved = XmlSaveResult::kSaved;
  const std::string work = PathOf(ResultKind::RatioWorkFile);
  if (!platform::FileReadable(work)) {
    *saved = Write(ResultKind::RatioResult, "No-Command", "", "");
    return RatioQueryOutcome::kNoCommand;
  }
  const std::string answer = PathOf(ResultKind::RatioResult);
  for (int attempt = 1; attempt <= kRatioCopyAttempts; ++attempt) {
    if (platform::CopyFileAtomically(work, answer)) return RatioQueryOutcome::kCopied;
    if (attempt < kRatioCopyAttempts) clock.SleepMs(kRatioCopyPauseMs);
  }
  return RatioQueryOutcome::kTimedOut;
}

}  // namespace status
