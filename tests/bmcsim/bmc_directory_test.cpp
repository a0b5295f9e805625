// The BMC kept in a directory, as the sim flavour's driver reaches it.
#include "bmcsim/store/bmc_directory.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/testing/virtual_clock.h"
#include "tests/bmcsim/model_bench.h"
#include "tests/support/temp_dir.h"

namespace bmcsim {
namespace {

using testsupport::ReadFileOrEmpty;
using testsupport::TempDir;

class BmcDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(BmcDirectory(path).Initialize(FreshState({}, {}, clock), &error)) << error;
  }
  wire::Bytes Send(BmcDirectory& bmc, const wire::Bytes& request) {
    ExchangeResult r = bmc.Exchange(request.data(), request.size(), clock);
    EXPECT_EQ(r.outcome, ExchangeOutcome::kResponse);
    return r.response;
  }

  TempDir temp;
  std::string path = temp.File("bmc");
  platform::VirtualClock clock;
};

TEST_F(BmcDirectoryTest, InstancesSeeEachOthersChanges) {
  BmcDirectory first(path);
  BmcDirectory second(path);
  // Each reservation must build on the latest saved one, never on a stale cached copy.
  EXPECT_EQ(ModelBench::Word(Send(first, {0x28, 0x22}), 3), 1);
  EXPECT_EQ(ModelBench::Word(Send(second, {0x28, 0x22}), 3), 2);
  EXPECT_EQ(ModelBench::Word(Send(first, {0x28, 0x22}), 3), 3);
  std::string error;
  ASSERT_TRUE(second.Modify(
      [](BmcState& state, std::string*) {
        state.active.records = {WithId(MakeRecord(11), 5)};
        return true;
      },
      &error));
  EXPECT_EQ(Send(first, {0x28, 0x23, 0x00, 0x00, 0x05, 0x00, 0x00, 0x05})[2], 0x00);
  // A reset by someone else is noticed too, even by an instance that cached the old state.
  ASSERT_TRUE(BmcDirectory(path).Initialize(FreshState({}, {}, clock), &error));
  EXPECT_EQ(ModelBench::Word(Send(first, {0x28, 0x22}), 3), 1);
  EXPECT_EQ(Send(first, {0x28, 0x23, 0x00, 0x00, 0x05, 0x00, 0x00, 0x05})[2], 0xCB);
}

TEST_F(BmcDirectoryTest, StateSurvivesTheInstance) {
  std::string error;
  {
    BmcDirectory bmc(path);
    ASSERT_TRUE(bmc.Modify(
        [](BmcState& state, std::string*) {
          state.faults.push_back(FaultRule{});
          std::string e;
          return ParseFaultRule("netfn=0x06 cmd=0x01 skip=1 count=2 cc=0xc3", &state.faults.back(), &e);
        },
        &error))
        << error;
    Send(bmc, {0xF8, 0x10, 0x00});
    Send(bmc, {0x18, 0x01});
  }
  BmcDirectory reopened(path);
  BmcState state;
  ASSERT_TRUE(reopened.Read(&state, &error)) << error;
  EXPECT_TRUE(state.spared.lockHeld);
  ASSERT_EQ(state.faults.size(), 1u);
  EXPECT_EQ(FormatFaultRule(state.faults[0]), "netfn=0x06 cmd=0x01 count=2 cc=0xc3");
  EXPECT_EQ(Send(reopened, {0x18, 0x01})[2], 0xC3);
}

// Both state slots, to see whether anything was written.
std::string StateFiles(const std::string& dir) {
  return ReadFileOrEmpty(platform::JoinPath(dir, "state-a.bin")) + "|" +
         ReadFileOrEmpty(platform::JoinPath(dir, "state-b.bin"));
}

TEST_F(BmcDirectoryTest, RefusedChangeLeavesTheStateFileAlone) {
  std::string before = StateFiles(path);
  BmcDirectory bmc(path);
  std::string error;
  EXPECT_FALSE(bmc.Modify(
      [](BmcState& state, std::string* e) {
        state.active.records.push_back(MakeRecord(3));
        *e = "no";
        return false;
      },
      &error));
  EXPECT_EQ(error, "no");
  EXPECT_EQ(StateFiles(path), before);
}

TEST_F(BmcDirectoryTest, LogHasOneLinePerExchange) {
  BmcDirectory bmc(path);
  std::string error;
  ASSERT_TRUE(bmc.Modify(
      [](BmcState& state, std::string* e) {
        state.faults.emplace_back();
        return ParseFaultRule("netfn=0x0a cmd=0x20 status=9", &state.faults.back(), e);
      },
      &error));
  Send(bmc, {0x18, 0x01});
  EXPECT_EQ(bmc.Exchange(wire::Bytes{0x28, 0x20}.data(), 2, clock).outcome, ExchangeOutcome::kUnreachable);
  EXPECT_EQ(bmc.Exchange(wire::Bytes{0x28}.data(), 1, clock).outcome, ExchangeOutcome::kTransferFailed);
  std::string log;
  ASSERT_TRUE(bmc.ReadLog(&log, true, &error));
  EXPECT_EQ(log,
            "18 01 -> 1C 01 00 20 01 01 00 02 BF 2D 9B 4E 01 00 00 00 00 00\n"
            "28 20 -> status 9\n"
            "28 -> status 10\n");
  ASSERT_TRUE(bmc.ReadLog(&log, false, &error));
  EXPECT_EQ(log, "");
}

TEST_F(BmcDirectoryTest, LatencyAndDelaysAreSleptOnTheClock) {
  BmcDirectory bmc(path);
  std::string error;
  ASSERT_TRUE(bmc.Modify(
      [](BmcState& state, std::string* e) {
        state.settings.latencyMs = 30;
        state.faults.emplace_back();
        return ParseFaultRule("netfn=0x06 cmd=0x01 delay=400", &state.faults.back(), e);
      },
      &error));
  Send(bmc, {0x18, 0x01});
  Send(bmc, {0x18, 0x01});
  EXPECT_EQ(clock.TotalSleptMs(), 460u);
  EXPECT_EQ(clock.SleepCount(), 2u);
}

void Damage(const std::string& file) {
  std::string content = ReadFileOrEmpty(file);
  ASSERT_FALSE(content.empty()) << file;
  content[content.size() / 2] = static_cast<char>(content[content.size() / 2] ^ 0x5A);
  ASSERT_TRUE(platform::WriteFileAtomically(file, content));
}

TEST_F(BmcDirectoryTest, InterruptedSaveFallsBackToThePreviousState) {
  {
    BmcDirectory writer(path);
    Send(writer, {0xF8, 0x10, 0x00});  // generation 2, in the second slot
    Send(writer, {0x28, 0x22});        // generation 3, back in the first
  }
  // As if the writer had died in the middle of its last save.
  Damage(platform::JoinPath(path, "state-a.bin"));
  BmcDirectory first(path);
  BmcDirectory second(path);
  BmcState state;
  std::string error;
  ASSERT_TRUE(first.Read(&state, &error)) << error;
  EXPECT_TRUE(state.spared.lockHeld);
  EXPECT_EQ(state.lastReservationId, 0);
  // Work goes on from there; the damaged slot is the one written next.
  EXPECT_EQ(ModelBench::Word(Send(first, {0x28, 0x22}), 3), 1);
  EXPECT_EQ(ModelBench::Word(Send(second, {0x28, 0x22}), 3), 2);
  EXPECT_EQ(ModelBench::Word(Send(first, {0x28, 0x22}), 3), 3);
}

TEST_F(BmcDirectoryTest, DamagedStateFileMakesTheBmcUnreachable) {
  Damage(platform::JoinPath(path, "state-a.bin"));
  BmcDirectory bmc(path);
  EXPECT_EQ(bmc.Exchange(wire::Bytes{0x18, 0x01}.data(), 2, clock).outcome, ExchangeOutcome::kUnreachable);
  BmcState state;
  std::string error;
  EXPECT_FALSE(bmc.Read(&state, &error));
  EXPECT_NE(error.find("damaged"), std::string::npos) << error;
}

}  // namespace
}  // namespace bmcsim
