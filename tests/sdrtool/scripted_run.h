#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/process.h"
#include "platform/testing/virtual_clock.h"
#include "sdrtool/sdr_run.h"
#include "tests/sdrtool/offline_run.h"
#include "tests/sdrtool/scripted_driver.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"

namespace veltrop {

// A run context in a fresh current directory whose BMC answers from a script.
class ScriptedRunTest : public OfflineRunTest {
 protected:
  ScriptedRunTest() { env.vendorDriver = &driver; }
  void Answer(std::vector<uint8_t> bytes) {
    driver.answers.push_back({transport::kExchangeOk, std::move(bytes)});
  }
  void Fail(transport::ExchangeStatus status) { driver.answers.push_back({status, {}}); }

  ScriptedDriver driver;
};

}  // namespace veltrop
