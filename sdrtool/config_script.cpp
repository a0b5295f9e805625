#include "sdrtool/config_script.h"

#include <cstdio>
#include <new>

#include "platform/files.h"
#include "sdrtool/config_interpreter.h"
#include "sdrtool/lib_funct.h"
#include "sdrtool/veltrop_run.h"

namespace veltrop {

int RunConfigScript(VeltropRun& run, const std::string& fileName) {
  std::unique_ptr<ConfigScript> script(new (std::nothrow) ConfigScript(run));
  if (!script) return run.errors.Report(2);
  return script->Run(fileName);
}

ConfigScript::ConfigScript(VeltropRun& run) : run_(run) {}

ConfigScript::~ConfigScript() = default;

int ConfigScript::Run(const std::string& path) {
  if (int result = Load(path)) return result;
  if (lines_.empty()) return 0;
  if (int result = ParseLines()) return result;
  if (int result = Execute()) return result;
  return ProgramEntries();
}

void ConfigScript::WriteTranscript() {
  std::FILE* transcript = std::fopen(platform::NullDevice(), "w");
  if (!transcript) {
    run_.errors.Report(65);
    return;
  }
  for (const ConfigLine& line : lines_) {
    std::fprintf(transcript, "%s ", LibFunct::PrintableText(line.keyword.c_str()));
    for (int i = 0; i < line.argumentCount; ++i)
      std::fprintf(transcript, "%s ", LibFunct::PrintableText(line.arguments[i].c_str()));
    std::fputs("\n", transcript);
  }
  std::fclose(transcript);
}

int ConfigScript::ProgramEntries() {
  if (entries_.empty() || !fru_) return 0;
  int result = ProgramGroup(SdrGroup::First);
  if (result == 0) result = ProgramGroup(SdrGroup::Last);
  if (result == 0 && run_.ProgrammedFlag)
    run_.LogLine("Programming complete, reboot server for normal operation ");
  return result;
}

int ConfigScript::ProgramGroup(SdrGroup group) {
  bool any = false;
  for (const SdrNameEntry& entry : entries_) any = any || entry.group == group;
  if (!any) return 0;
  // The programming procedure writes its record dumps and messages here.
  run_.TranscriptFile = std::fopen(platform::NullDevice(), "w");
  if (!run_.TranscriptFile) return run_.errors.Report(65);
  int result = 0;
  for (const SdrNameEntry& entry : entries_) {
    if (entry.group != group) continue;
    result = fru_->ProgramEntry(entry.fileName, entry.compare, names_);
    if (result != 0) break;
  }
  std::fclose(run_.TranscriptFile);
  run_.TranscriptFile = nullptr;
  return result;
}

}  // namespace veltrop
