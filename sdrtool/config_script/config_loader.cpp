#include <new>

#include "sdrtool/config_script/config_commands.h"
#include "sdrtool/config_script/config_script.h"
#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/text_file.h"

namespace veltrop {

int ConfigScript::Load(const std::string& path) {
  TextFile ctx;
  if (ctx.Open(path) != 0) return run_.errors.Report(67);
  while (ctx.ReadLine()) {
    ConfigLine line;
    line.text = CleanConfigText(ctx.line);
    if (line.text.empty()) continue;
    if (!BeginsWithConfigKeyword(line.text.c_str())) {
      run_.errors.Report(11);
      return run_.errors.Report(23);
    }
    line.lineNumber = ctx.lineCount;
    try {
      lines_.push_back(std::move(line));
    } catch (const std::bad_alloc&) {
      return run_.errors.Report(2);
    }
  }
  // A script that could not be read to its end is refused whole.
  if (ctx.problem() != TextFile::Problem::kNone) {
    return ctx.ReportProblem(
        [this](int number, uint16_t value) { return run_.errors.Report(number, value); });
  }
  return 0;
}

int ConfigScript::ParseLines() {
  for (ConfigLine& line : lines_) {
    if (int error = ParseConfigLine(&line)) {
      run_.errors.Report(11);
      return run_.errors.Report(error);
    }
  }
  WriteTranscript();
  return 0;
}

}  // namespace veltrop
