#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "fwtool/log_line_count.h"
#include "fwtool/package_version.h"
#include "fwtool/result_file_wait.h"
#include "platform/files.h"
#include "platform/testing/memory_console.h"
#include "platform/testing/virtual_clock.h"
#include "tests/support/temp_dir.h"

// What Korvane reads of the files around it: the manager's package, the manager's taking of a
// result file, its own logs.
namespace korvane {
namespace {

struct VersionCase {
  const char* name;
  const char* content;  // nullptr: no ExUpInfo.xml
  int result;
  const char* version;
};

TEST(ReadExUpInfoVersion, OutcomesForTheDescriptorsTheManagerMayLeave) {
  const VersionCase cases[] = {
      {"plain", "<?xml version='1.0'?><ExUpInfo><version>01.05</version></ExUpInfo>", 0, "01.05"},
      {"nested deep, first in document order wins",
       "<ExUpInfo><pkg><fw><version>2.10</version></fw></pkg><version>9.99</version></ExUpInfo>", 0, "2.10"},
      {"text of all descendants", "<a><version>0<b>1</b>.0<![CDATA[7]]></version></a>", 0, "01.07"},
      {"layout around the text", "<a>\n  <version>\n    01.05\n  </version>\n</a>\n", 0, "01.05"},
      {"only whitespace", "<a><version>\n  </version></a>", -4, ""},
      {"one character", "<a><version>7</version></a>", 0, "7"},
      {"missing", nullptr, -2, ""},
      {"empty file", "", -2, ""},
      {"not well-formed", "<ExUpInfo><version>01.05</ExUpInfo>", -2, ""},
      {"no version element", "<ExUpInfo><name>x</name></ExUpInfo>", -3, ""},
      {"the document element itself does not count", "<version>01.05</version>", -3, ""},
      {"empty version", "<ExUpInfo><version></version></ExUpInfo>", -4, ""},
      {"empty version element", "<ExUpInfo><version/></ExUpInfo>", -4, ""},
      {"six characters are not cut", "<ExUpInfo><version>01.050</version></ExUpInfo>", -4, ""},
      {"long text", "<ExUpInfo><version>01.05.0001-beta</version></ExUpInfo>", -4, ""},
  };
  for (const VersionCase& c : cases) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDir cwd(dir.path());
    if (c.content) testsupport::WriteFile(dir.File("ExUpInfo.xml"), c.content);
    char out[8];
    std::memset(out, 'Z', sizeof out);
    platform::MemoryConsole console;
    EXPECT_EQ(ReadExUpInfoVersion(out, console), c.result) << c.name;
    if (c.result == 0) {
      EXPECT_STREQ(out, c.version) << c.name;
    }
    EXPECT_EQ(out[6], 'Z') << c.name;  // at most six bytes are delivered
    EXPECT_EQ(out[7], 'Z') << c.name;
    EXPECT_EQ(console.Output(), "") << c.name;
  }
}

// A virtual clock that lets a test act during its nth pause (from 1).
class PausingClock : public platform::VirtualClock {
 public:
  std::function<void(unsigned n)> onSleep;
  void SleepMs(uint32_t ms) override {
    VirtualClock::SleepMs(ms);
    if (onSleep) onSleep(SleepCount());
  }
};

struct ConsumedCase {
  const char* name;
  bool present;             // the manager's previous file is there
  unsigned removedAtPause;  // 0: never removed
  unsigned pauses;
  ResponseFileWait outcome;
};

TEST(WaitResponseFileConsumed, WaitsAtMostSixtyOnePausesForTheManager) {
  const ConsumedCase cases[] = {
      {"already gone", false, 0, 0, ResponseFileWait::kGone},
      {"taken during the third pause", true, 3, 3, ResponseFileWait::kGone},
      {"taken during the last pause", true, 61, 61, ResponseFileWait::kGone},
      {"never taken", true, 0, 61, ResponseFileWait::kOverwriting},
  };
  for (const ConsumedCase& c : cases) {
    testsupport::TempDir dir;
    const std::string path = dir.File("Update_normal.xml");
    if (c.present) testsupport::WriteFile(path, "previous");
    PausingClock clock;
    clock.onSleep = [&](unsigned n) {
      if (n == c.removedAtPause) platform::RemoveFile(path);
    };
    EXPECT_EQ(WaitResponseFileConsumed(clock, path), c.outcome) << c.name;
    EXPECT_EQ(clock.SleepCount(), c.pauses) << c.name;
    EXPECT_EQ(clock.TotalSleptMs(), c.pauses * 500u) << c.name;
  }
}

TEST(CountLogLines, CountsReadsOfAtMost255Characters) {
  const struct {
    const char* name;
    std::string content;
    bool exists;
    int32_t lines;
  } cases[] = {
      {"missing", "", false, 0},
      {"empty", "", true, 0},
      {"two lines", "a\nb\n", true, 2},
      {"last line without line end", "a\nb", true, 2},
      {"empty lines", "\n\n\n", true, 3},
      {"254 characters and line end: one read", std::string(254, 'x') + "\n", true, 1},
      {"255 characters and line end: two reads", std::string(255, 'x') + "\n", true, 2},
      {"600 characters: three reads", std::string(600, 'x'), true, 3},
  };
  for (const auto& c : cases) {
    testsupport::TempDir dir;
    if (c.exists) testsupport::WriteFile(dir.File("x.log"), c.content);
    EXPECT_EQ(CountLogLines(dir.File("x.log")), c.lines) << c.name;
  }
}

}  // namespace
}  // namespace korvane
