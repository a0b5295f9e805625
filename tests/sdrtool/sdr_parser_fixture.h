#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/sdr_parser.h"
#include "sdrtool/sdr_text/text_file.h"
#include "tests/sdrtool/offline_run.h"

namespace veltrop {

// A veltrop run without a BMC, in a fresh current directory, for the parser and its routines.
class SdrParserTest : public OfflineRunTest {
 protected:
  SdrParserTest() {
    run = NewRun(ModeUpdate);
    run->settings.DirectMode = true;  // keeps error reports out of result files
    run->ApplySettings();
  }

  // Opens and parses the file as the programming procedure does: the failure's number, 0 when
  // the records were parsed, -1 when the file did not open.
  int ParsePath(const std::string& path, const SetNameList* names) {
    if (file.Open(path) != TextFile::Opened::kOpened) return -1;
    return ErrorNumber(ParseSdrText(*run, file, names, &records));
  }
  // Writes text as the file "test.sdr" and parses it.
  int ParseText(const std::string& text, const SetNameList* names = nullptr) {
    testsupport::WriteFile(dir.File("test.sdr"), text);
    return ParsePath(dir.File("test.sdr"), names);
  }

  std::vector<const SdrRecord*> Records() const {
    std::vector<const SdrRecord*> list;
    for (const SdrRecord& r : records) list.push_back(&r);
    return list;
  }

  // The log's lines without their time stamps and line ends.
  std::vector<std::string> LogLines() const { return Log(); }

  std::unique_ptr<SdrRun> run;
  TextFile file;
  SdrRecordList records;
};

}  // namespace veltrop
