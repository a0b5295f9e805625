#include "sdrtool/veltrop_run.h"

#include <cstdio>
#include <cstdlib>

#include "sdrtool/repository_image.h"
#include "sdrtool/result_codes.h"

namespace veltrop {
namespace {

// A line is assembled in a buffer of this size, time stamp and terminator included; longer
// texts are cut so nothing is written beyond it.
constexpr size_t kLogLineBuffer = 1024;

status::StatusHooks MakeHooks(VeltropRun* run) {
  status::StatusHooks h;
  h.clock = run->env.clock;
  h.console = run->env.console;
  h.shouldWrite = [run](status::ResultKind) {
    return run->settings.mode != ModeNone && !run->settings.DirectMode;
  };
  h.pathFor = [run](status::ResultKind kind) { return run->ResultDirPrefix + status::ResultFileName(kind); };
  h.beforeWrite = [run](status::ResultKind kind) {
    if ((kind == status::ResultKind::NormalResult || kind == status::ResultKind::ForceResult) &&
        run->resultStartTimeSet) {
      std::function<void(const std::string&)> trace;
      if (run->settings.ResultTraceEnabled) trace = [run](const std::string& line) { run->LogLine(line); };
      status::HoldBackUpdateResult(run->clock, run->ResultStartTime, trace);
    }
  };
  h.log = [run](const std::string& line) { run->LogLine(line); };
  h.reportResult = [run](const std::string& code) { run->ReportResultCode(code); };
  h.exitProcess = run->env.exitProcess ? run->env.exitProcess : [](int status) { std::exit(status); };
  h.lockName = run->env.lockName;
  h.lockDir = run->env.lockDir;
  h.isVersionMode = [run] { return run->settings.mode == ModeVersion; };
  h.releaseLockAtOnce = [run] { return run->settings.mode == ModeVersion; };
  h.ratioTimeoutCode = "SDRC08";
  return h;
}

}  // namespace

VeltropRun::VeltropRun(VeltropEnv& e)
    : env(e),
      clock(*e.clock),
      console(*e.console),
      errors(*this),
      status(MakeHooks(this)),
      Image(std::make_unique<RepositoryImage>()) {
  transport.vendorDriver = e.vendorDriver;
  transport.wmiDriver = e.wmiDriver;
}

VeltropRun::~VeltropRun() {
  if (TranscriptFile) std::fclose(TranscriptFile);
}

const char* VeltropRun::LogFileName() const {
  switch (settings.mode) {
    case ModeVersion:
      return kVersionLog;
    case ModeRatio:
      return kRatioLog;
    default:
      return kMainLog;
  }
}

void VeltropRun::LogLine(std::string_view text) {
  if (settings.ConsoleEcho || settings.mode == ModeNone) {
    console.Write(text);
    if (text.empty() || text.back() != '\n') console.Write("\n");
  }
  platform::LocalTime t = clock.Local();
  char line[kLogLineBuffer];
  int stamp = std::snprintf(line, sizeof line, "%4.4d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d  ", t.year, t.month,
                            t.day, t.hour, t.minute, t.second);
  if (stamp < 0) return;
  size_t used = static_cast<size_t>(stamp) < sizeof line ? static_cast<size_t>(stamp) : sizeof line - 1;
  // Room for the text, the line feed and the terminator.
  size_t room = sizeof line - used - 2;
  size_t n = text.size() < room ? text.size() : room;
  text.copy(line + used, n);
  used += n;
  line[used++] = '\n';
  line[used] = '\0';
  std::FILE* f = std::fopen(LogFileName(), "a");
  if (!f) return;
  std::fwrite(line, 1, used, f);
  std::fclose(f);
}

status::ResultKind VeltropRun::ModeResultKind(bool* hasKind) const {
  *hasKind = true;
  switch (settings.mode) {
    case ModeVersion:
      return status::ResultKind::VersionResult;
    case ModeUpdate:
      return status::ResultKind::NormalResult;
    case ModeForce:
      return status::ResultKind::ForceResult;
    case ModeRatio:
      return status::ResultKind::RatioResult;
    default:
      *hasKind = false;
      return status::ResultKind::NormalResult;
  }
}

void VeltropRun::WriteModeResult(const std::string& code, const std::string& data,
                                 const std::string& version) {
  bool hasKind = false;
  status::ResultKind kind = ModeResultKind(&hasKind);
  if (hasKind) status.WriteResultFile(kind, code, data, version);
}

void VeltropRun::ReportResultCode(const std::string& code) {
  LogLine(ResultCodeMessage(code));
  if (settings.DirectMode || settings.mode == ModeBackup) return;
  WriteModeResult(code, "", "");
}

}  // namespace veltrop
