#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/process.h"
#include "platform/testing/virtual_clock.h"
#include "sdrtool/config_script/config_script.h"
#include "sdrtool/error_catalogue.h"
#include "sdrtool/sdr_run.h"
#include "tests/sdrtool/offline_run.h"

namespace veltrop {

// An update run in a fresh current directory, without a BMC: enough for the phases of a
// script that names no SDR file, or that is not taken to the programming phase.
class ConfigScriptTest : public OfflineRunTest {
 protected:
  ConfigScriptTest() {
    run = NewRun(ModeUpdate);
    script = std::make_unique<ConfigScript>(*run);
  }

  // Writes the script and runs every phase; the number of the failure it reported, or 0.
  int RunScript(const std::string& text) {
    Write("test.cfg", text);
    return ErrorNumber(script->Run("test.cfg"));
  }
  // Load, parse and execute only: the SDR files named need no BMC.
  int ExecuteScript(const std::string& text) {
    Write("test.cfg", text);
    SdrError result = script->Load("test.cfg");
    if (result == SdrError::kNone) result = script->ParseLines();
    if (result == SdrError::kNone) result = script->Execute();
    return ErrorNumber(result);
  }

  // The numbers of the plain "Error, " lines of the log, in order.
  std::vector<int> ReportedErrors() const {
    std::vector<int> numbers;
    for (const std::string& line : Log()) {
      for (int n = 1; n <= 79; ++n) {
        // Texts with a number in them are matched up to the number.
        const std::string text = std::string("Error, ") + ErrorText(n);
        const size_t mark = text.find('%');
        if (mark == std::string::npos ? line == text : line.rfind(text.substr(0, mark), 0) == 0) {
          numbers.push_back(n);
        }
      }
    }
    return numbers;
  }

  std::unique_ptr<SdrRun> run;
  std::unique_ptr<ConfigScript> script;
};

}  // namespace veltrop
