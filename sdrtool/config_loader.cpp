#include <new>

#include "sdrtool/config_commands.h"
#include "sdrtool/config_interpreter.h"
#include "sdrtool/lib_funct.h"
#include "sdrtool/veltrop_run.h"

namespace veltrop {

int ConfigScript::Load(const std::string& path) {
  LibFunct lib(run_);
  FileContext ctx;
  if (lib.OpenFile(path, &ctx, "r") != 0) return run_.errors.Report(67);
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
