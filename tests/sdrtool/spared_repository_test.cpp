#include <gtest/gtest.h>

#include "platform/files.h"
#include "sdrtool/repository/spared_repository.h"
#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"

namespace veltrop {
namespace {

using programtest::Exchange;
using programtest::Exchanges;
using programtest::MakeRecord;
using programtest::Only;
using testsupport::Record;

class SparedRepository : public VeltropFixture {
 protected:
  void SetUp() override {
    run = NewRun(ModeForce);
    ASSERT_TRUE(TakeUpdateLock(*run));
    ASSERT_TRUE(bmc.LockHeld());
    bmc.ClearLog();
  }
  std::vector<Exchange> Adds() const { return Only(Exchanges(bmc), 0xF8, 0x13); }

  std::unique_ptr<SdrRun> run;
};

TEST_F(SparedRepository, RecordIsWrittenInSixteenByteChunksUnderOneRecordId) {
  struct Case {
    int body;
    std::vector<int> requestSizes;
  } cases[] = {{11, {24}}, {12, {24, 9}}, {64, {24, 24, 24, 24, 13}}, {0, {13}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    bmc.ClearLog();
    const Record record = MakeRecord(0x0102, 0x01, c.body, 3);
    ASSERT_EQ(PartialAddSparedSdr(*run, record.data()), SdrError::kNone);

    std::vector<Exchange> all = Exchanges(bmc);
    ASSERT_EQ(all.size(), c.requestSizes.size() + 1);
    EXPECT_EQ(all[0].request, (std::vector<uint8_t>{0xF8, 0x11}));
    const std::vector<uint8_t>& reserve = all[0].response;
    const uint8_t* firstAnswer = nullptr;
    for (size_t k = 0; k < c.requestSizes.size(); ++k) {
      const std::vector<uint8_t>& req = all[k + 1].request;
      ASSERT_EQ(static_cast<int>(req.size()), c.requestSizes[k]);
      EXPECT_EQ(req[0], 0xF8);
      EXPECT_EQ(req[1], 0x13);
      EXPECT_EQ(req[2], reserve[3]);
      EXPECT_EQ(req[3], reserve[4]);
      if (k == 0) {
        EXPECT_EQ(req[4], 0x00);
        EXPECT_EQ(req[5], 0x00);
        firstAnswer = all[1].response.data();
      } else {
        EXPECT_EQ(req[4], firstAnswer[3]);
        EXPECT_EQ(req[5], firstAnswer[4]);
      }
      EXPECT_EQ(req[6], 16 * k);
      EXPECT_EQ(req[7], k + 1 == c.requestSizes.size() ? 0x01 : 0x00);
      EXPECT_EQ(Record(req.begin() + 8, req.end()),
                Record(record.begin() + 16 * static_cast<long>(k),
                       record.begin() + 16 * static_cast<long>(k) + static_cast<long>(req.size()) - 8));
    }
  }
  std::vector<Record> written = programtest::WithoutIds(bmc.Records(true));
  ASSERT_EQ(written.size(), 4u);
  EXPECT_EQ(written[2], programtest::WithoutIds({MakeRecord(0, 0x01, 64, 3)})[0]);
}

TEST_F(SparedRepository, BodyAboveSixtyFourBytesIsRefusedBeforeAnythingIsSent) {
  Record record = MakeRecord(1, 0x01, 65, 1);
  EXPECT_EQ(PartialAddSparedSdr(*run, record.data()), SdrError::kInvalidRecordLength);
  EXPECT_TRUE(bmc.LogLines().empty());
  EXPECT_TRUE(bmc.Records(true).empty());
}

TEST_F(SparedRepository, LostReservationRestartsTheRecordWithANewReservationAndRecordId) {
  for (int chunk : {0, 1, 4}) {
    SCOPED_TRACE(chunk);
    ASSERT_TRUE(TakeUpdateLock(*run));
    ASSERT_TRUE(ClearSparedSdr(*run));
    bmc.ClearLog();
    bmc.ClearFaults();
    // Another party reserves just before this chunk: the BMC drops the half-written record.
    bmc.AddFault("netfn=0x3e cmd=0x13 skip=" + std::to_string(chunk) + " count=1 cancel");
    const Record record = MakeRecord(0, 0x01, 64, 9);
    ASSERT_EQ(PartialAddSparedSdr(*run, record.data()), SdrError::kNone);

    std::vector<Exchange> all = Exchanges(bmc);
    std::vector<Exchange> reserves = Only(all, 0xF8, 0x11);
    ASSERT_EQ(reserves.size(), 2u);
    EXPECT_NE(Record(reserves[0].response.begin() + 3, reserves[0].response.end()),
              Record(reserves[1].response.begin() + 3, reserves[1].response.end()));
    std::vector<Exchange> adds = Adds();
    ASSERT_EQ(adds.size(), static_cast<size_t>(chunk + 1 + 5));
    EXPECT_EQ(adds[chunk].response[2], 0xC5);
    const Exchange& restart = adds[chunk + 1];
    EXPECT_EQ(restart.request[2], reserves[1].response[3]);
    EXPECT_EQ(restart.request[4], 0x00);
    EXPECT_EQ(restart.request[5], 0x00);
    EXPECT_EQ(restart.request[6], 0x00);
    EXPECT_EQ(bmc.Records(true), std::vector<Record>{[&] {
                Record r = record;
                r[0] = adds.back().response[3];
                r[1] = adds.back().response[4];
                return r;
              }()});
    EXPECT_FALSE(LogHas("Error,"));
  }
}

TEST_F(SparedRepository, ThreeHundredLostReservationsGiveRetryError) {
  struct Case {
    uint8_t command;
    int losses;
    bool done;
    const char* name;
  } cases[] = {{0x13, 299, true, "Partial Add SDR"},
               {0x13, 300, false, "Partial Add SDR"},
               {0x14, 300, false, "Clear SDR repository"}};
  programtest::SetErasePolls(bmc, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.losses));
    bmc.ClearFaults();
    bmc.ClearLog();
    char rule[80];
    std::snprintf(rule, sizeof rule, "netfn=0x3e cmd=0x%02x count=%d cc=0xc5", c.command, c.losses);
    bmc.AddFault(rule);
    const Record record = MakeRecord(0, 0x01, 20, 1);
    const bool done = c.command == 0x13 ? PartialAddSparedSdr(*run, record.data()) == SdrError::kNone
                                        : ClearSparedSdr(*run);
    EXPECT_EQ(done, c.done);
    EXPECT_EQ(Only(Exchanges(bmc), 0xF8, 0x11).size(), static_cast<size_t>(c.done ? c.losses + 1 : 300));
    EXPECT_EQ(LogHas(std::string("Error, IPMI command retry error command = ") + c.name), !c.done);
  }
  EXPECT_FALSE(LogHas("code = C5"));
}

TEST_F(SparedRepository, EraseIsPolledEveryHalfSecondUntilComplete) {
  for (uint32_t polls : {0u, 1u, 3u}) {
    SCOPED_TRACE(polls);
    ASSERT_EQ(PartialAddSparedSdr(*run, MakeRecord(0, 0x01, 20, 1).data()), SdrError::kNone);
    programtest::SetErasePolls(bmc, polls);
    bmc.ClearLog();
    const uint64_t sleptBefore = clock.TotalSleptMs();
    ASSERT_TRUE(ClearSparedSdr(*run));
    std::vector<Exchange> clears = Only(Exchanges(bmc), 0xF8, 0x14);
    ASSERT_EQ(clears.size(), polls + 1);
    EXPECT_EQ(clears[0].request.back(), 0xAA);
    EXPECT_EQ(Record(clears[0].request.begin() + 4, clears[0].request.end() - 1), (Record{'C', 'L', 'R'}));
    for (size_t i = 1; i < clears.size(); ++i) {
      EXPECT_EQ(clears[i].request.back(), 0x00);
      EXPECT_EQ(Record(clears[i].request.begin(), clears[i].request.end() - 1),
                Record(clears[0].request.begin(), clears[0].request.end() - 1));
    }
    // 1 ms before every command, 500 ms before every status request.
    EXPECT_EQ(clock.TotalSleptMs() - sleptBefore, 500u * polls + clears.size() + 1);
    EXPECT_TRUE(bmc.Records(true).empty());
  }
}

// A failed erase leaves its own error, if any, to the caller (which reports error 25).
TEST_F(SparedRepository, EraseFailures) {
  const std::string refused =
      "Error, unsupported SparedSDR command on BMC.Or, the time-out is generated by a "
      "system high load code = ";
  struct Case {
    const char* name;
    std::string rule;
    bool erased;
    std::vector<std::string> errors;
  } cases[] = {
      {"status answer of the wrong length", "netfn=0x3e cmd=0x14 skip=1 count=1 length=3", false, {}},
      {"status request refused", "netfn=0x3e cmd=0x14 skip=2 count=1 cc=0xd5", false, {refused + "D5"}},
      {"reserve refused", "netfn=0x3e cmd=0x11 count=1 cc=0xd5", false, {refused + "D5"}},
      {"reserve answer without the reservation",
       "netfn=0x3e cmd=0x11 count=1 length=4",
       false,
       {"Error, wrong number of bytes read"}},
      {"erase start refused", "netfn=0x3e cmd=0x14 count=1 cc=0xc1", false, {refused + "C1"}},
      // The erase went on although its answer was lost; the polls find it done.
      {"erase start answer lost",
       "netfn=0x3e cmd=0x14 count=1 status=10",
       true,
       {"Error, failed to send IPMI command"}},
      // A forgiven start comes back without its status.
      {"erase start without its status", "netfn=0x3e cmd=0x14 count=1 length=3", true, {}},
  };
  programtest::SetErasePolls(bmc, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bmc.ClearFaults();
    bmc.AddFault(c.rule);
    platform::RemoveFile(File(kMainLog));
    EXPECT_EQ(ClearSparedSdr(*run), c.erased);
    std::vector<std::string> errors;
    for (const std::string& line : LogLines())
      if (line.rfind("Error, ", 0) == 0) errors.push_back(line);
    EXPECT_EQ(errors, c.errors);
  }
}

TEST_F(SparedRepository, EraseThatNeverCompletesFailsAfterTenMinutes) {
  bmc.AddFault("netfn=0x3e cmd=0x14 skip=1 count=always patch=3:00");
  const uint64_t start = clock.MonotonicMs();
  EXPECT_FALSE(ClearSparedSdr(*run));
  const uint64_t took = clock.MonotonicMs() - start;
  EXPECT_GE(took, kEraseTimeLimitMs);
  EXPECT_LT(took, kEraseTimeLimitMs + 2000);
  EXPECT_TRUE(LogHas("Clear SDR repository: erase not completed within 600 seconds"));
}

TEST_F(SparedRepository, LostReservationIsRecognisedAfterTheRepositoryWasRead) {
  // A lost reservation is one whatever the run has read so far.
  run->programming.readState = ReadBackState::kRecordRead;
  programtest::SetErasePolls(bmc, 0);
  bmc.AddFault("netfn=0x3e cmd=0x14 count=1 cc=0xc5");
  bmc.AddFault("netfn=0x3e cmd=0x13 count=1 cc=0xc5");
  EXPECT_TRUE(ClearSparedSdr(*run));
  EXPECT_EQ(PartialAddSparedSdr(*run, MakeRecord(0, 0x01, 20, 1).data()), SdrError::kNone);
  EXPECT_EQ(Only(Exchanges(bmc), 0xF8, 0x14).size(), 2u);
  EXPECT_EQ(Adds().size(), 3u);
  EXPECT_EQ(bmc.Records(true).size(), 1u);
}

// Whatever ends a run that still holds the update lock, the run does not go away with it: what
// was written is discarded.
TEST_F(SparedRepository, RunGoingAwayWithTheLockDiscardsIt) {
  const std::vector<Record> active = bmc.Records();
  ASSERT_EQ(PartialAddSparedSdr(*run, MakeRecord(0, 0x01, 20, 1).data()), SdrError::kNone);
  bmc.ClearLog();
  run.reset();
  EXPECT_FALSE(bmc.LockHeld());
  EXPECT_EQ(bmc.Records(), active);
  EXPECT_EQ(bmc.LogLines().size(), 1u);
}

}  // namespace
}  // namespace veltrop
