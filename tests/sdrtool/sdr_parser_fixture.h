#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/testing/virtual_clock.h"
#include "sdrtool/sdr_file.h"
#include "sdrtool/veltrop_run.h"
#include "tests/sdrtool/offline_run.h"

namespace veltrop {

// An SDRFile that parses a file it opens itself, as ProgramSdrFile does.
class ParsingSdrFile : public SDRFile {
 public:
  using SDRFile::SDRFile;
  int ParsePath(const std::string& path, const SetNameList* names) {
    file_.Reset();
    int result = OpenFile(path, &file_, "r");
    return result != 0 ? result : Parse(names);
  }
  bool FileOpen() const { return file_.file != nullptr; }
};

// A veltrop run without a BMC, in a fresh current directory, for the parser and its routines.
class SdrParserTest : public OfflineRunTest {
 protected:
  SdrParserTest() {
    run = std::make_unique<VeltropRun>(env);
    run->settings.mode = ModeUpdate;
    run->settings.DirectMode = true;  // keeps error reports out of result files
    sdr = std::make_unique<ParsingSdrFile>(*run);
  }

  // Writes text as the file "test.sdr" and parses it.
  int ParseText(const std::string& text, const SetNameList* names = nullptr) {
    testsupport::WriteFile(dir.File("test.sdr"), text);
    return sdr->ParsePath(dir.File("test.sdr"), names);
  }

  std::vector<const SensData*> Records() const {
    std::vector<const SensData*> list;
    for (const SensData* n = sdr->FileList.get(); n; n = n->Next.get()) list.push_back(n);
    return list;
  }

  // The log's lines without their time stamps and line ends.
  std::vector<std::string> LogLines() const { return Log(); }

  std::unique_ptr<VeltropRun> run;
  std::unique_ptr<ParsingSdrFile> sdr;
};

}  // namespace veltrop
