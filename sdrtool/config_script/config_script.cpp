#include "sdrtool/config_script/config_script.h"

#include <cstdio>

#include "platform/files.h"
#include "sdrtool/programming/sdr_programming.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/name_match.h"

namespace veltrop {

SdrError RunConfigScript(SdrRun& run, const std::string& fileName) {
  ConfigScript script(run);
  return script.Run(fileName);
}

bool ConditionHolds(const SetNameList& names, const std::string* conditions, int count) {
  for (int i = 0; i < count; ++i) {
    if (!NameMatch(names, conditions[i])) return false;
  }
  return true;
}

SdrError ConfigScript::Run(const std::string& path) {
  SdrError result = Load(path);
  if (result != SdrError::kNone || lines_.empty()) return result;
  result = ParseLines();
  if (result == SdrError::kNone) result = Execute();
  if (result == SdrError::kNone) result = ProgramEntries();
  return result;
}

void ConfigScript::WriteTranscript() {
  std::FILE* transcript = std::fopen(platform::NullDevice(), "w");
  if (!transcript) {
    run_.errors.Report(SdrError::kSdrTempOpenFailed);
    return;
  }
  for (const ConfigLine& line : lines_) {
    std::fprintf(transcript, "%s ", PrintableText(line.keyword.c_str()));
    for (int i = 0; i < line.argumentCount; ++i)
      std::fprintf(transcript, "%s ", PrintableText(line.arguments[i].c_str()));
    std::fputs("\n", transcript);
  }
  std::fclose(transcript);
}

SdrError ConfigScript::ProgramEntries() {
  if (entries_.empty() || !executed_) return SdrError::kNone;
  SdrError result = ProgramGroup(SdrGroup::First);
  if (result == SdrError::kNone) result = ProgramGroup(SdrGroup::Last);
  if (result == SdrError::kNone && run_.programming.programmed)
    run_.Log("Programming complete, reboot server for normal operation ");
  return result;
}

SdrError ConfigScript::ProgramGroup(SdrGroup group) {
  bool any = false;
  for (const SdrNameEntry& entry : entries_) any = any || entry.group == group;
  if (!any) return SdrError::kNone;
  // The programming procedure writes its record dumps and messages here.
  Transcript& transcript = run_.programming.transcript;
  if (!transcript.Open(platform::NullDevice())) return run_.errors.Report(SdrError::kSdrTempOpenFailed);
  SdrError result = SdrError::kNone;
  for (const SdrNameEntry& entry : entries_) {
    if (entry.group != group) continue;
    result = ProgramSdrFile(run_, entry.fileName, &names_, entry.compare);
    if (result != SdrError::kNone) break;
  }
  transcript.Close();
  return result;
}

}  // namespace veltrop
