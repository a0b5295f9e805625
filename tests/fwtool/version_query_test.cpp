#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/instance_lock.h"
#include "tests/fwtool/korvane_fixture.h"
#include "tests/support/log_lines.h"

namespace korvane {
namespace {

using ::testing::Contains;

class VersionQuery : public KorvaneFixture {
 protected:
  // The answer of a -version run.
  testsupport::ResultTree Ask(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"-version"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(Run(args), 0);
    return Result("Get_version.xml");
  }
};

// The BMC runs 01.05 (Get Device ID revision bytes 01h, 05h); the package version decides.
TEST_F(VersionQuery, ComparesTheRunningFirmwareWithThePackage) {
  struct Case {
    const char* package;
    const char* word;
  } cases[] = {{"01.10", "Upper"}, {"01.05", "Even"}, {"01.04", "Lower"},
               {"1.10", "Upper"},  // compared character by character: "0" sorts before "1"
               {"01.0A", "Upper"}, {"01.0", "Lower"}};
  for (const Case& c : cases) {
    PackageVersion(c.package);
    const auto tree = Ask();
    EXPECT_EQ(tree.resultCode, "OK") << c.package;
    EXPECT_EQ(tree.cmp, c.word) << c.package;
    EXPECT_EQ(tree.version, "01.05") << c.package;
  }
  // A query never writes "Complete" over its answer, sends nothing to channel 2 or the flash,
  // and logs into the query log only.
  EXPECT_THAT(QueryLog(), Contains("=== Get Version Command ==="));
  EXPECT_THAT(QueryLog(), Contains("=== GetBmcStatus() success. ==="));
  EXPECT_FALSE(platform::FileReadable(Prog("Korvane_log.txt")));
  EXPECT_THAT(QueryLog(), ::testing::Not(Contains("BMCFW update was completed.")));
  for (const std::string& line : bmc.LogLines()) EXPECT_EQ(line.rfind("18 01 ", 0), 0u) << line;
}

TEST_F(VersionQuery, FailuresAnswerWithTheirCode) {
  struct Case {
    const char* name;
    std::function<void(KorvaneFixture&)> prepare;
    std::vector<std::string> extra;
    const char* code;
    std::vector<std::string> lines;  // in this order in the query log
  };
  const Case cases[] = {
      {"package descriptor missing",
       [](KorvaneFixture& f) { platform::RemoveFile(f.Work("ExUpInfo.xml")); },
       {},
       "C20",
       {"=== File open error.(C20) ===", "File open error.(ExUpInfo.xml)",
        "=== CompareBmcVersion() failed. ==="}},
      {"no version element",
       [](KorvaneFixture& f) {
         testsupport::WriteFile(f.Work("ExUpInfo.xml"), "<ExUpInfo><name>x</name></ExUpInfo>");
       },
       {},
       "C21",
       {"Version info. not exist.(ExUpInfo.xml : <version>)"}},
      {"empty version",
       [](KorvaneFixture& f) { f.PackageVersion(""); },
       {},
       "C22",
       {"Version info. error.(ExUpInfo.xml : <version>)"}},
      // Cut to five characters it would compare as another version.
      {"six-character version", [](KorvaneFixture& f) { f.PackageVersion("01.100"); }, {}, "C22", {}},
      {"no driver",
       [](KorvaneFixture& f) { f.env.vendorDriver = nullptr; },
       {},
       "C2",
       {"Can't open IPMI driver.", "  request  = 18 01 ", "  response = "}},
      {"not listed",
       [](KorvaneFixture& f) { testsupport::WriteFile(f.Prog("mchk_fil"), "0200\n"); },
       {},
       "C3",
       {"It is not a target system.(HWID)", "  request  = 18 01 "}},
      {"no hardware list",
       [](KorvaneFixture& f) { platform::RemoveFile(f.Prog("mchk_fil")); },
       {},
       "C6",
       {"File open error.(mchk_fil)", "  request  = 18 01 "}},
      {"Get Device ID refused",
       [](KorvaneFixture& f) { f.bmc.AddFault("netfn=0x06 cmd=0x01 count=1 cc=0xc0"); },
       {},
       "C15",
       {"IPMI command error.(Get Device ID)", "  request  = 18 01 ", "  response = 1C 01 C0 "}},
      {"dual-bank device and -boot",
       [](KorvaneFixture&) {},
       {"-boot"},
       "C4",
       {"It is not a target system.(Update BOOT BLOCK)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::RemoveFile(Prog("Korvane_log1.txt"));
    bmc.ClearFaults();
    c.prepare(*this);
    const auto tree = Ask(c.extra);
    EXPECT_EQ(tree.resultCode, c.code);
    EXPECT_EQ(tree.cmp, "");
    const auto log = QueryLog();
    auto at = log.begin();
    for (const std::string& line : c.lines) {
      at = std::find(at, log.end(), line);
      EXPECT_NE(at, log.end()) << line;
    }
    // Restore what the case changed.
    env.vendorDriver = driver.get();
    testsupport::WriteFile(Prog("mchk_fil"), "0100\n");
    PackageVersion("01.10");
  }
}

TEST_F(VersionQuery, DeviceOfAnotherKindIsNoTarget) {
  testsupport::SimIdentity identity;
  identity.deviceId = 0x20;
  bmc.Init(identity);
  EXPECT_EQ(Ask().resultCode, "C5");
  EXPECT_THAT(QueryLog(), Contains("It is not a target system.(BMC Device ID)"));
}

// The query holds the lock for its whole run: a second query is busy, an update is refused.
TEST_F(VersionQuery, BusyWhileAnotherInstanceRuns) {
  platform::LockResult result;
  auto held = platform::TryAcquireInstanceLock(env.lockName, &result, env.lockDir);
  ASSERT_EQ(result, platform::LockResult::kAcquired);
  EXPECT_EQ(Ask().resultCode, "Busy");
  EXPECT_EQ(Run({"-normal"}), 0);
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "Duplex");
  EXPECT_THAT(UpdateLog(), Contains("The update has already been being executed. "));
  EXPECT_TRUE(bmc.LogLines().empty());
}

}  // namespace
}  // namespace korvane
