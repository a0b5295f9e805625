#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "sdrtool/programming/sdr_programming.h"
#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"
#include "tests/support/result_file.h"

namespace veltrop {
namespace {

using programtest::Exchange;
using programtest::Exchanges;
using programtest::MakeRecord;
using programtest::MakeRecords;
using programtest::Only;
using programtest::WithoutIds;
using testsupport::Record;

// Text files of the programs have CR LF line ends on Windows.
std::string Unix(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

class SdrProgram : public VeltropFixture {
 protected:
  SdrProgram() : watcher(driver.get(), File("Get_ratio.xml_tmp")) { env.vendorDriver = &watcher; }

  std::unique_ptr<SdrRun> ProgramRun(SdrMode mode = ModeForce) {
    auto r = NewRun(mode);
    r->settings.input = InputSdr;
    return r;
  }
  void WriteSdr(const std::string& name, const std::vector<Record>& records) {
    Write(name, programtest::SdrText(records));
  }
  // The mode bytes of the lock requests, in order.
  std::vector<uint8_t> LockModes() const {
    std::vector<uint8_t> modes;
    for (const Exchange& e : Only(Exchanges(bmc), 0xF8, 0x10)) modes.push_back(e.request[2]);
    return modes;
  }

  programtest::ProgressWatcher watcher;
};

TEST_F(SdrProgram, WritesTheFileIntoTheRepositoryAndVerifiesIt) {
  const std::vector<Record> old = MakeRecords(4, 50);
  bmc.LoadRecords(old);
  const std::vector<Record> records = MakeRecords(12);
  WriteSdr("new.sdr", records);
  auto run = ProgramRun();
  ASSERT_TRUE(run->programming.transcript.Open(File("transcript")));
  EXPECT_EQ(ProgramSdrFile(*run, "new.sdr", nullptr, false), SdrError::kNone);
  run->programming.transcript.Close();

  EXPECT_EQ(WithoutIds(bmc.Records()), WithoutIds(records));
  EXPECT_FALSE(bmc.LockHeld());
  EXPECT_EQ(LockModes(), (std::vector<uint8_t>{0x00, 0x02}));
  EXPECT_TRUE(run->programming.programmed);
  // The read-back used the spared repository under the lock; the standard one is read only
  // after the commit, to see the new records in use.
  const std::vector<Exchange> all = Exchanges(bmc);
  const auto commit = std::find_if(all.begin(), all.end(), [](const Exchange& e) {
    return e.request == std::vector<uint8_t>{0xF8, 0x10, 0x02};
  });
  ASSERT_NE(commit, all.end());
  EXPECT_FALSE(Only({all.begin(), commit}, 0xF8, 0x12).empty());
  EXPECT_TRUE(Only({all.begin(), commit}, 0x28, 0x23).empty());
  // Each record once, in reads of up to 16 bytes.
  size_t reads = 0;
  for (const Record& r : records) reads += (r.size() + 15) / 16;
  EXPECT_EQ(Only({commit, all.end()}, 0x28, 0x23).size(), reads);
  EXPECT_TRUE(LogHas("Commit check: the active SDR Repository holds the new records."));
  for (const char* line : {"Clearing SDR Repository...", "Writing SDR Record ", "Reading SDR Repository.",
                           "SDR data was successfully written!"}) {
    EXPECT_TRUE(LogHas(line)) << line;
  }
  EXPECT_FALSE(LogHas("Error,"));
  const std::string transcript = Unix(Read("transcript"));
  EXPECT_NE(transcript.find("Writing SDR Record #12\n"), std::string::npos);
  EXPECT_EQ(transcript.rfind("Clearing SDR Repository...Writing SDR Record #1\n", 0), 0u);
  EXPECT_NE(transcript.find("Reading SDR Repository.SDR data was successfully written!"), std::string::npos);
}

TEST_F(SdrProgram, RealRepositoriesAreWrittenAndVerifiedWhole) {
  for (const char* name : {"server07.bin", "server09.bin", "server12.bin"}) {
    SCOPED_TRACE(name);
    bmc.LoadRecords(std::vector<Record>{});
    const std::vector<Record> records = testsupport::SplitRecords(testsupport::RealSdr(name));
    WriteSdr("real.sdr", records);
    auto run = ProgramRun();
    EXPECT_EQ(ProgramSdrFile(*run, "real.sdr", nullptr, false), SdrError::kNone);
    EXPECT_EQ(WithoutIds(bmc.Records()), WithoutIds(records));
    EXPECT_EQ(run->programming.verifyCount, static_cast<int>(records.size()) + 1);
  }
}

TEST_F(SdrProgram, ReadBackFaultsFailTheUpdateAndReleaseTheLockAsFailed) {
  const std::vector<Record> old = MakeRecords(3, 70);
  const std::vector<Record> records = MakeRecords(5);  // bodies 10, 17, 24, 31, 38: 2-4 reads each
  struct Case {
    const char* name;
    std::string rule;
    const char* logLine;
  } cases[] = {
      {"corrupted record byte", "netfn=0x3e cmd=0x12 skip=2 count=1 patch=7:EE",
       "Verify 2 ++++++++ data error i=2 fSensData->Record[i]=238 eSensData->Record[i]=81"},
      {"corrupted body length", "netfn=0x3e cmd=0x12 skip=2 count=1 patch=9:10",
       "Verify 2 ++++++++ length error ++++++ ilength = 16 elength =17"},
      {"Get SDR refused", "netfn=0x3e cmd=0x12 skip=4 count=1 cc=0xcb", "Error, failed to send IPMI command"},
      {"reserve refused", "netfn=0x3e cmd=0x11 skip=7 count=1 cc=0xc0", "Error, failed to send IPMI command"},
      {"first read of the wrong length", "netfn=0x3e cmd=0x12 skip=2 count=1 length=9",
       "Error, wrong number of bytes read"},
      {"first read echoing another command", "netfn=0x3e cmd=0x12 skip=2 count=1 patch=1:13",
       "Error, wrong number of bytes read"},
      {"later read of the wrong length", "netfn=0x3e cmd=0x12 skip=3 count=1 length=9",
       "Error, SDR record read error from BMC"},
      {"record longer than 69 bytes", "netfn=0x3e cmd=0x12 skip=2 count=1 patch=9:41",
       "Error, invalid Sensor Data Record length found"},
      {"records missing", "netfn=0x3e cmd=0x12 skip=8 count=1 patch=3:FFFF",
       "Verify 5 ++++++ record num unmatch fSensData=0"},
      {"erase refused", "netfn=0x3e cmd=0x14 count=1 cc=0xc1", "Error, failed to clear the SDR repository"},
      {"record write refused", "netfn=0x3e cmd=0x13 skip=2 count=1 cc=0xc1",
       "Error, unsupported SparedSDR command"},
      // The second record's first chunk names the record its second chunk goes to.
      {"record ID not in the answer", "netfn=0x3e cmd=0x13 skip=1 count=1 length=4",
       "Error, wrong number of bytes read"},
  };
  WriteSdr("new.sdr", records);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir caseDir;
    testsupport::ScopedCurrentDir inCase(caseDir.path());
    bmc.LoadRecords(old);
    bmc.ClearFaults();
    bmc.ClearLog();
    bmc.AddFault(c.rule);
    auto run = ProgramRun();
    EXPECT_EQ(ProgramSdrFile(*run, File("new.sdr"), nullptr, false), SdrError::kWriteFailed);
    const std::string log = testsupport::ReadFileOrEmpty(caseDir.File(kMainLog));
    EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
    EXPECT_NE(log.find("Error, SDR file unsuccessfully written"), std::string::npos);
    EXPECT_EQ(LockModes(), (std::vector<uint8_t>{0x00, 0x01}));
    EXPECT_FALSE(bmc.LockHeld());
    EXPECT_EQ(bmc.Records(), old);
  }
}

TEST_F(SdrProgram, LockRefusedStopsBeforeAnythingElse) {
  bmc.AddFault("netfn=0x3e cmd=0x10 count=1 cc=0xc1");
  WriteSdr("new.sdr", MakeRecords(2));
  auto run = ProgramRun();
  EXPECT_EQ(ProgramSdrFile(*run, "new.sdr", nullptr, false), SdrError::kAlreadyReported);
  EXPECT_EQ(Exchanges(bmc).size(), 1u);
  EXPECT_TRUE(LogHas("Error, unsupported SparedSDR command on BMC"));
  EXPECT_FALSE(LogHas("SDR file unsuccessfully written"));
}

// However the lock's answers go astray, the run fails and the BMC is left unlocked with its
// repository either untouched or, where the commit did happen, the new one.
TEST_F(SdrProgram, LostOrRefusedLockAnswersLeaveTheBmcUnlocked) {
  const std::vector<Record> old = MakeRecords(3, 40);
  const std::vector<Record> records = MakeRecords(5);
  // The first error of each is the one its result file shows.
  struct Case {
    const char* name;
    const char* rule;
    const char* firstError;
    std::vector<uint8_t> modes;
    bool committed;
  } cases[] = {
      {"lock granted, answer lost", "netfn=0x3e cmd=0x10 match=00 status=10", "SDR029", {0x00, 0x01}, false},
      {"lock granted, answer garbled",
       "netfn=0x3e cmd=0x10 match=00 length=4",
       "SDR029",
       {0x00, 0x01},
       false},
      {"lock never arrived", "netfn=0x3e cmd=0x10 match=00 status=9", "SDR028", {0x00}, false},
      {"commit refused", "netfn=0x3e cmd=0x10 match=02 cc=0xc0", "SDR077", {0x00, 0x02, 0x01}, false},
      {"commit never arrived", "netfn=0x3e cmd=0x10 match=02 status=9", "SDR028", {0x00, 0x02, 0x01}, false},
      // The repository shows the commit happened: the update is done.
      {"commit done, answer lost", "netfn=0x3e cmd=0x10 match=02 status=10", "SDR029", {0x00, 0x02}, true},
      {"commit done, answer garbled", "netfn=0x3e cmd=0x10 match=02 length=4", "SDR029", {0x00, 0x02}, true},
  };
  WriteSdr("new.sdr", records);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir caseDir;
    testsupport::ScopedCurrentDir inCase(caseDir.path());
    bmc.LoadRecords(old);
    bmc.ClearFaults();
    bmc.ClearLog();
    bmc.AddFault(c.rule);
    auto run = ProgramRun();
    EXPECT_EQ(ProgramSdrFile(*run, File("new.sdr"), nullptr, false),
              c.committed ? SdrError::kNone : SdrError::kAlreadyReported);
    EXPECT_EQ(testsupport::ReadResultFile(caseDir.File("Update_force.xml")).resultCode, c.firstError);
    EXPECT_EQ(LockModes(), c.modes);
    EXPECT_FALSE(bmc.LockHeld());
    if (c.committed) {
      EXPECT_EQ(WithoutIds(bmc.Records()), WithoutIds(records));
    } else {
      EXPECT_EQ(bmc.Records(), old);
    }
  }
}

TEST_F(SdrProgram, FileThatCannotBeOpenedIsReported) {
  auto run = ProgramRun();
  EXPECT_EQ(ProgramSdrFile(*run, "missing.sdr", nullptr, false), SdrError::kSdrFileOpenFailed);
  EXPECT_TRUE(LogHas("Error, failed to open the specified SDR file"));
  EXPECT_TRUE(Exchanges(bmc).empty());
}

TEST_F(SdrProgram, CompareOnlyReadsTheActiveRepositoryWithoutWriting) {
  const std::vector<Record> four = MakeRecords(4);
  struct Case {
    const char* name;
    std::vector<Record> repository;
    std::vector<Record> file;
    SdrError result;
    const char* logLine;
  } cases[] = {
      {"equal apart from record IDs", four, WithoutIds(four), SdrError::kNone,
       "SDR data was successfully compared!"},
      {"file of 3 against 4",
       four,
       {four[0], four[1], four[2]},
       SdrError::kCompareMismatch,
       "Verify 4 ++++++ record num unmatch fSensData="},
      {"empty repository",
       {},
       {four[0], four[1]},
       SdrError::kCompareMismatch,
       "Verify 1 ++++++ record num unmatch fSensData=0 eSensData ="},
      {"both empty", {}, {}, SdrError::kNone, "SDR data was successfully compared!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir caseDir;
    testsupport::ScopedCurrentDir inCase(caseDir.path());
    bmc.LoadRecords(c.repository);
    bmc.ClearLog();
    testsupport::WriteFile(caseDir.File("cmp.sdr"), programtest::SdrText(c.file));
    auto run = ProgramRun();
    run->programming.programmed = true;
    EXPECT_EQ(ProgramSdrFile(*run, "cmp.sdr", nullptr, true), c.result);
    const std::string log = Unix(testsupport::ReadFileOrEmpty(caseDir.File(kMainLog)));
    EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
    EXPECT_EQ(log.find("eSensData =0\n") != std::string::npos, std::string(c.name) == "file of 3 against 4");
    if (c.result != SdrError::kNone) {
      EXPECT_NE(log.find("Error, SDR file does not match with what was programmed into memory"),
                std::string::npos);
    }
    if (c.repository.empty()) {
      EXPECT_NE(log.find("No Sensor Data Records found on the server "), std::string::npos);
      EXPECT_EQ(run->programming.readState, ReadBackState::kRepositoryEmpty);
    }
    EXPECT_FALSE(run->programming.programmed);
    for (const Exchange& e : Exchanges(bmc)) EXPECT_EQ(e.request[0], 0x28);
    EXPECT_EQ(bmc.Records(), c.repository);
  }
}

TEST_F(SdrProgram, CountersContinueAcrossFilesOfOneRun) {
  WriteSdr("a.sdr", MakeRecords(3));
  WriteSdr("b.sdr", MakeRecords(2, 30));
  auto run = ProgramRun();
  run->settings.ConsoleEcho = true;
  run->ApplySettings();
  { ASSERT_EQ(ProgramSdrFile(*run, "a.sdr", nullptr, false), SdrError::kNone); }
  EXPECT_EQ(run->programming.verifyCount, 4);
  EXPECT_NE(console.Output().find(" ----- > #3\r"), std::string::npos);
  bmc.AddFault("netfn=0x3e cmd=0x12 skip=2 count=1 patch=7:EE");
  console.ClearOutput();
  EXPECT_EQ(ProgramSdrFile(*run, "b.sdr", nullptr, false), SdrError::kWriteFailed);
  EXPECT_TRUE(LogHas("Verify 6 ++++++++ data error i=2"));
  // Writing counts each file from 1, the read-back goes on from the first file.
  EXPECT_NE(console.Output().find(
                " ----- > #1\r ----- > #2\r\nReading SDR Repository.\n ----- > #4\r ----- > #5\r\n"),
            std::string::npos)
      << console.Output();
}

TEST_F(SdrProgram, ProgressRisesThroughTheScheduleAndIsPublishedEveryTenthRecord) {
  WriteSdr("new.sdr", MakeRecords(25));
  auto run = ProgramRun(ModeForce);
  run->ctx.progressRatio = 30;
  ASSERT_EQ(ProgramSdrFile(*run, "new.sdr", nullptr, false), SdrError::kNone);
  watcher.Look();
  // 24 points over FileRecordCount 26 per record: published at written record 10 and 20 and
  // at read-back record 10 and 20.
  EXPECT_EQ(watcher.published, (std::vector<int>{35, 40, 48, 57, 65, 74, 83, 90}));
}

// A standard repository whose record chain never ends: every record is 69 bytes long and
// names the next ID as its successor.
class EndlessRepository : public transport::IpmiDriver {
 public:
  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    response->bytes[0] = static_cast<uint8_t>(request.bytes[0] + 4);
    response->bytes[1] = request.bytes[1];
    response->bytes[2] = 0x00;
    if (request.bytes[1] == 0x22) {
      response->bytes[3] = 0x01;
      response->bytes[4] = 0x00;
      response->length = 5;
      return transport::kExchangeOk;
    }
    const int id =
        (request.bytes[4] | request.bytes[5] << 8) == 0 ? 1 : request.bytes[4] | request.bytes[5] << 8;
    Record record = MakeRecord(static_cast<uint16_t>(id), 0x01, 64, static_cast<uint8_t>(id));
    response->bytes[3] = static_cast<uint8_t>((id + 1) & 0xFF);
    response->bytes[4] = static_cast<uint8_t>((id + 1) >> 8);
    std::memcpy(response->bytes + 5, record.data() + request.bytes[6], request.bytes[7]);
    response->length = static_cast<uint8_t>(5 + request.bytes[7]);
    return transport::kExchangeOk;
  }
};

TEST_F(SdrProgram, ManagedUpdateOfANewerFileCompletes) {
  std::vector<Record> old = MakeRecords(6, 90);
  old.push_back(programtest::VersionRecord("S2025010100001.40"));
  old.back()[0] = 0x07;
  bmc.LoadRecords(old);
  std::vector<Record> records = MakeRecords(20);
  records.insert(records.begin() + 3, programtest::VersionRecord("S2026120700001.50"));
  WriteSdr("new.sdr", records);
  EXPECT_EQ(Run({"-update", "-sdr", "new.sdr"}), 0);
  EXPECT_EQ(Result("Update_normal.xml").resultCode, "Complete");
  EXPECT_EQ(WithoutIds(bmc.Records()), WithoutIds(records));
  EXPECT_TRUE(LogHas("CompareSDRVersion() success."));
  EXPECT_TRUE(LogHas("SDR data was successfully written!"));
  EXPECT_TRUE(LogHas("Programming complete, reboot server for normal operation "));
  EXPECT_FALSE(LogHas("Error,"));
  // The fixed steps of the run and of programming, rising only; 100 goes with the file.
  const std::vector<int>& seen = watcher.published;
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  for (int step : {5, 30, 35, 40, 65, 90})
    EXPECT_NE(std::find(seen.begin(), seen.end(), step), seen.end()) << step;
  EXPECT_FALSE(platform::FileReadable(File("Get_ratio.xml_tmp")));
}

class SdrReadBack : public SdrProgram {
 protected:
  // The number of the read's failure, 0 when it read the repository.
  int ReadActive(SdrRun& run) {
    readList.clear();
    return ErrorNumber(ReadRepository(run, false, &readList));
  }
  SdrRecordList readList;
};

TEST_F(SdrReadBack, FirstReadSizeFollowsTheFormat) {
  const std::vector<Record> records = {MakeRecord(1, 0x01, 11, 1), MakeRecord(2, 0x01, 43, 2),
                                       MakeRecord(3, 0x01, 64, 3)};
  bmc.LoadRecords(records);
  for (bool ipmi15 : {true, false}) {
    SCOPED_TRACE(ipmi15);
    bmc.ClearLog();
    auto run = NewRun();
    run->programming.ipmi15Format = ipmi15;
    ASSERT_EQ(ReadActive(*run), 0);
    EXPECT_EQ(programtest::RecordsOf(readList), records);
    const uint8_t first = ipmi15 ? 5 : 16;
    std::vector<std::vector<uint8_t>> reads;
    for (const Exchange& e : Only(Exchanges(bmc), 0x28, 0x23)) {
      if (e.request[6] == 0) {
        EXPECT_EQ(e.request[7], first);
        EXPECT_EQ(e.response.size(), first + 5u);
      } else {
        EXPECT_LE(e.request[7], 16);
      }
      reads.push_back({e.request[6], e.request[7]});
    }
    if (ipmi15) {
      EXPECT_EQ(reads.size(), 2u + 4u + 5u);
    } else {
      EXPECT_EQ(reads.size(), 1u + 3u + 5u);
    }
  }
}

TEST_F(SdrReadBack, ChainThatLoopsFailsInsteadOfReadingForever) {
  bmc.LoadRecords(std::vector<Record>{MakeRecord(1, 0x01, 11, 1), MakeRecord(2, 0x01, 11, 2),
                                      MakeRecord(3, 0x01, 11, 3)});
  for (const char* next : {"0100", "0000", "0200"}) {
    SCOPED_TRACE(next);
    bmc.ClearFaults();
    // Record 2's first read names an earlier record as its successor.
    bmc.AddFault(std::string("netfn=0x0a cmd=0x23 skip=2 count=1 patch=3:") + next);
    auto run = NewRun();
    EXPECT_EQ(ReadActive(*run), 4);
    EXPECT_TRUE(LogHas("the record chain loops"));
  }
}

TEST_F(SdrReadBack, ChainThatNeverEndsStopsAtTheSizeLimit) {
  EndlessRepository endless;
  env.vendorDriver = &endless;
  auto run = NewRun();
  EXPECT_EQ(ReadActive(*run), 4);
  EXPECT_TRUE(LogHas("Get SDR: repository holds more than 65535 record bytes"));
  // 949 records of 69 bytes fit, the 950th does not.
  EXPECT_EQ(run->programming.readRecordNumber, 950);
  EXPECT_EQ(programtest::RecordsOf(readList).size(), 949u);
}

TEST_F(SdrReadBack, LostReservationsRestartTheRecordWithinItsBudget) {
  const std::vector<Record> records = MakeRecords(3);
  bmc.LoadRecords(records);
  struct Case {
    int skip;
    int losses;
    int result;
    size_t listed;
  } cases[] = {{3, 5, 0, 3}, {3, 300, 81, 1}, {0, 300, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.skip) + "/" + std::to_string(c.losses));
    testsupport::TempDir caseDir;
    testsupport::ScopedCurrentDir inCase(caseDir.path());
    bmc.ClearFaults();
    bmc.AddFault("netfn=0x0a cmd=0x23 skip=" + std::to_string(c.skip) + " count=" + std::to_string(c.losses) +
                 " cc=0xc5");
    auto run = NewRun();
    EXPECT_EQ(ReadActive(*run), c.result);
    EXPECT_EQ(programtest::RecordsOf(readList).size(), c.listed);
    const std::string log = testsupport::ReadFileOrEmpty(caseDir.File(kMainLog));
    EXPECT_EQ(log.find("Error, IPMI command retry error command = Get SDR") != std::string::npos,
              c.result == 81);
    // 300 losses at the very first record: no repository to read.
    EXPECT_EQ(log.find("No Sensor Data Records found on the server ") != std::string::npos, c.skip == 0);
  }
}

TEST_F(SdrReadBack, EmptyRepositoryIsFoundOnceForTheWholeRun) {
  bmc.LoadRecords(std::vector<Record>{});
  auto run = NewRun();
  EXPECT_EQ(ReadActive(*run), 0);
  EXPECT_TRUE(readList.empty());
  EXPECT_EQ(run->programming.readState, ReadBackState::kRepositoryEmpty);
  bmc.LoadRecords(MakeRecords(2));
  bmc.ClearLog();
  EXPECT_EQ(ReadActive(*run), 0);
  EXPECT_TRUE(readList.empty());
  EXPECT_TRUE(bmc.LogLines().empty());
}

}  // namespace
}  // namespace veltrop
