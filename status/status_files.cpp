#include "status/status_files.h"

#include <cstdlib>
#include <utility>

#include "platform/files.h"
#include "status/result_document.h"
#include "status/xml_document.h"

namespace status {
namespace {

constexpr int kRatioCopyAttempts = 12;
constexpr uint32_t kRatioCopyPauseMs = 500;
constexpr int kConsumedWaitMaxCount = 60;  // the loop pauses while count <= 60: 61 pauses
constexpr uint32_t kConsumedWaitPauseMs = 500;

}  // namespace

StatusFiles::StatusFiles(StatusHooks hooks) : hooks_(std::move(hooks)) {}

StatusFiles::~StatusFiles() = default;

platform::Console& StatusFiles::Console() {
  return hooks_.console ? *hooks_.console : platform::StdConsole();
}

platform::Clock& StatusFiles::Clock() {
  return hooks_.clock ? *hooks_.clock : platform::SystemClock();
}

std::string StatusFiles::PathFor(ResultKind kind) const {
  return hooks_.pathFor ? hooks_.pathFor(kind) : std::string(ResultFileName(kind));
}

void StatusFiles::Log(const std::string& line) {
  if (hooks_.log) hooks_.log(line);
}

void StatusFiles::Report(const std::string& code) {
  if (hooks_.reportResult) hooks_.reportResult(code);
}

void StatusFiles::WriteResultFile(ResultKind kind, const std::string& resultCode, const std::string& data,
                                  const std::string& version) {
  if (hooks_.shouldWrite && !hooks_.shouldWrite(kind)) return;
  if (hooks_.beforeWrite) hooks_.beforeWrite(kind);
  std::string path = PathFor(kind);
  XmlSaveResult saved =
      SaveXmlDocument(BuildResultDocument(kind, resultCode, data, version), path, Console());
  if (saved == XmlSaveResult::kUnavailable) {
    Console().Write("Initilaize error\n");
    if (hooks_.exitProcess) {
      hooks_.exitProcess(1);
    } else {
      std::exit(1);
    }
    return;
  }
  // The manager would otherwise find an old result or none at all without any trace of why.
  if (saved == XmlSaveResult::kNotSaved) Log("Result file save error.(" + path + ")");
}

void StatusFiles::PublishProgress() {
  WriteResultFile(ResultKind::RatioWorkFile, "OK", std::to_string(ProgressRatio), "");
}

void StatusFiles::RatioQuery() {
  std::string work = PathFor(ResultKind::RatioWorkFile);
  if (!platform::FileExists(work)) {
    WriteResultFile(ResultKind::RatioResult, "No-Command", "", "");
    return;
  }
  std::string answer = PathFor(ResultKind::RatioResult);
  for (int attempt = 1; attempt <= kRatioCopyAttempts; ++attempt) {
    if (platform::CopyFileAtomically(work, answer)) return;
    if (attempt < kRatioCopyAttempts) Clock().SleepMs(kRatioCopyPauseMs);
  }
  Report(hooks_.ratioTimeoutCode);
}

int StatusFiles::AcquireInstanceLock() {
  platform::LockResult result = platform::LockResult::kFailed;
  std::unique_ptr<platform::InstanceLock> lock =
      platform::TryAcquireInstanceLock(hooks_.lockName, &result, hooks_.lockDir);
  // A lock that cannot even be created counts as held elsewhere: going on unguarded could
  // run two updates at once.
  if (result != platform::LockResult::kAcquired || !lock) {
    bool versionMode = hooks_.isVersionMode && hooks_.isVersionMode();
    Report(versionMode ? "Busy" : "Duplex");
    return 1;
  }
  if (hooks_.releaseLockAtOnce && hooks_.releaseLockAtOnce()) return 0;
  lock_ = std::move(lock);
  return 0;
}

void StatusFiles::WaitResponseFileConsumed() {
  std::string file = hooks_.pendingResponseFile ? hooks_.pendingResponseFile() : std::string();
  if (file.empty()) return;
  int count = 0;
  bool present = platform::FileExists(file);
  while (present && count <= kConsumedWaitMaxCount) {
    Clock().SleepMs(kConsumedWaitPauseMs);
    ++count;
    present = platform::FileExists(file);
  }
  if (!present) return;
  Log("Response file already exists.(" + file + ")");
  if (count > kConsumedWaitMaxCount) Log("Overwrite file.(" + file + ")");
}

}  // namespace status
