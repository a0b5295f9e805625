#include "runcontrol/result_reporter.h"

namespace runcontrol {

ResultReporter::ResultReporter(RunLog& log, status::ResultFiles& files, platform::Console& console)
    : log_(log), files_(files), console_(console) {}

const char* ResultReporter::MessageOf(const std::string& code) const {
  for (size_t i = 0; i < rules.messageCount; ++i) {
    if (code == rules.messages[i].code) return rules.messages[i].message;
  }
  return "";
}

void ResultReporter::Report(const std::string& code) {
  const char* message = MessageOf(code);
  if (!modeKind && rules.printWithoutResultFile) {
    console_.Write(message);
    console_.Write("\n");
  }
  if (!rules.resultFileBeforeLog) log_.Line(message);
  WriteModeResult(code);
  if (rules.resultFileBeforeLog) log_.Line(message);
}

void ResultReporter::WriteModeResult(const std::string& code, const std::string& data,
                                     const std::string& version) {
  if (!modeKind) return;
  if (rules.firstModeResultOnly && modeResultWritten_) return;
  modeResultWritten_ = true;
  Write(*modeKind, code, data, version);
}

void ResultReporter::Write(status::ResultKind kind, const std::string& code, const std::string& data,
                           const std::string& version) {
  if (!files_.placement.enabled) return;
  if (beforeResultFile) beforeResultFile(kind, code);
  HandleSave(files_.Write(kind, code, data, version), kind);
}

void ResultReporter::HandleSave(status::XmlSaveResult saved, status::ResultKind kind) {
  switch (saved) {
    case status::XmlSaveResult::kSaved:
      return;
    case status::XmlSaveResult::kNotSaved:
      // The manager would otherwise find an old result or none at all without any trace of why.
      log_.Line("Result file save error.(" + files_.PathOf(kind) + ")");
      return;
    case status::XmlSaveResult::kUnavailable:
      console_.Write("Initilaize error\n");
      exitStatus_ = 1;
      return;
  }
}

}  // namespace runcontrol
