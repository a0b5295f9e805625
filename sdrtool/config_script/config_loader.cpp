#include <new>

#include "sdrtool/config_script/config_commands.h"
#include "sdrtool/config_script/config_script.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/text_file.h"

namespace veltrop {

SdrError ConfigScript::Load(const std::string& path) {
  TextFile ctx;
  if (ctx.Open(path) != TextFile::Opened::kOpened) return run_.errors.Report(SdrError::kConfigFileOpenFailed);
  while (ctx.ReadLine()) {
    ConfigLine line;
    line.text = CleanConfigText(ctx.line);
    if (line.text.empty()) continue;
    if (!BeginsWithConfigKeyword(line.text.c_str())) {
      run_.errors.Report(SdrError::kInvalidCommand);
      return run_.errors.Report(SdrError::kConfigReadProblem);
    }
    line.lineNumber = ctx.lineCount;
    try {
      lines_.push_back(std::move(line));
    } catch (const std::bad_alloc&) {
      return run_.errors.Report(SdrError::kInsufficientMemory);
    }
  }
  // A script that could not be read to its end is refused whole.
  if (ctx.problem() != TextFile::Problem::kNone) {
    return ctx.ReportProblem(
        [this](SdrError error, uint16_t value) { return run_.errors.Report(error, value); });
  }
  return SdrError::kNone;
}

SdrError ConfigScript::ParseLines() {
  for (ConfigLine& line : lines_) {
    const SdrError error = ParseConfigLine(&line);
    if (error != SdrError::kNone) {
      run_.errors.Report(SdrError::kInvalidCommand);
      return run_.errors.Report(error);
    }
  }
  WriteTranscript();
  return SdrError::kNone;
}

}  // namespace veltrop
