// The spared repository behind the OEM commands: lock, erase, Partial Add, commit, discard.
#include <gtest/gtest.h>

#include "tests/bmcsim/model_bench.h"

namespace bmcsim {
namespace {

TEST(SparedSdr, PartialAddChunksAsTheSdrToolSendsThem) {
  struct Case {
    uint8_t body;
    std::vector<size_t> requestSizes;
  } cases[] = {
      {11, {24}},                  // T = 16: one chunk, progress 01
      {12, {24, 9}},               // T = 17: the second chunk carries one byte
      {64, {24, 24, 24, 24, 13}},  // T = 69: offsets 0, 16, 32, 48, 64
  };
  for (const Case& c : cases) {
    ModelBench bmc;
    bmc.LockAndErase();
    uint16_t first = 0;
    uint16_t second = 0;
    EXPECT_EQ(bmc.WriteRecord(MakeRecord(c.body), &first), c.requestSizes) << int(c.body);
    EXPECT_EQ(bmc.WriteRecord(MakeRecord(c.body, 0x80), &second), c.requestSizes) << int(c.body);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    // Stored with the IDs the BMC assigned, otherwise byte for byte.
    std::vector<SdrRecord> expected{WithId(MakeRecord(c.body), 1), WithId(MakeRecord(c.body, 0x80), 2)};
    EXPECT_EQ(bmc.state.spared.repository.records, expected);
    EXPECT_EQ(bmc.ReadAll(true), expected);
  }
}

TEST(SparedSdr, ReleaseWithSuccessMakesTheSparedRepositoryActive) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(30), 0x10)};
  uint32_t oldAddition = bmc.state.active.additionStamp;
  uint32_t oldErase = bmc.state.active.eraseStamp;
  bmc.LockAndErase();
  bmc.WriteRecord(MakeRecord(11));
  bmc.WriteRecord(MakeRecord(40));
  // While the lock is held the standard commands still see the old repository.
  EXPECT_EQ(bmc.ReadAll(false), (std::vector<SdrRecord>{WithId(MakeRecord(30), 0x10)}));
  uint16_t reader = bmc.Reserve(false);
  EXPECT_EQ(wire::HexSpaced(bmc.Lock(2)), "FC 10 00");

  EXPECT_FALSE(bmc.state.spared.lockHeld);
  EXPECT_EQ(bmc.ReadAll(false),
            (std::vector<SdrRecord>{WithId(MakeRecord(11), 1), WithId(MakeRecord(40), 2)}));
  EXPECT_GT(bmc.state.active.additionStamp, oldAddition);
  EXPECT_GT(bmc.state.active.eraseStamp, oldErase);
  EXPECT_NE(bmc.state.active.additionStamp, bmc.state.active.eraseStamp);
  // The repository changed under the reader's reservation.
  EXPECT_EQ(bmc.GetSdr(false, reader, 1, 5, 2)[2], 0xC5);
  // The spared commands are gone with the lock.
  EXPECT_EQ(wire::HexSpaced(bmc.Send("F8 11")), "FC 11 D5");
}

TEST(SparedSdr, ReleaseWithFailureDiscardsTheSparedRepository) {
  ModelBench bmc;
  std::vector<SdrRecord> original{WithId(MakeRecord(30), 0x10), WithId(MakeRecord(5), 0x11)};
  bmc.state.active.records = original;
  BmcState before = bmc.state;
  bmc.LockAndErase();
  bmc.WriteRecord(MakeRecord(11));
  EXPECT_EQ(wire::HexSpaced(bmc.Lock(1)), "FC 10 00");
  EXPECT_FALSE(bmc.state.spared.lockHeld);
  EXPECT_EQ(bmc.state.active.records, original);
  EXPECT_EQ(bmc.state.active.additionStamp, before.active.additionStamp);
  EXPECT_EQ(bmc.state.active.eraseStamp, before.active.eraseStamp);
}

TEST(SparedSdr, TakingTheLockStartsFromACopyAndMayBeRepeated) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(30), 0x10)};
  ASSERT_EQ(bmc.Lock(0)[2], 0x00);
  EXPECT_EQ(bmc.ReadAll(true), bmc.state.active.records);
  bmc.LockAndErase();  // takes the lock a second time: starts over from the copy, then erases
  bmc.WriteRecord(MakeRecord(11));
  ASSERT_EQ(bmc.Lock(0)[2], 0x00);
  EXPECT_EQ(bmc.ReadAll(true), bmc.state.active.records);
}

TEST(SparedSdr, CommandsWithoutTheLockAnswerD5) {
  ModelBench bmc;
  for (const char* request : {"F8 10 01", "F8 10 02", "F8 11", "F8 12 01 00 00 00 00 05",
                              "F8 13 01 00 00 00 00 01 00 00 51 01 00", "F8 14 01 00 43 4C 52 AA"}) {
    EXPECT_EQ(bmc.Send(request).at(2), 0xD5) << request;
  }
  EXPECT_EQ(wire::HexSpaced(bmc.Send("F8 10 03")), "FC 10 CC");
  EXPECT_EQ(wire::HexSpaced(bmc.Send("F8 10")), "FC 10 C7");
}

TEST(SparedSdr, EraseTakesTheConfiguredNumberOfStatusPolls) {
  for (uint32_t polls : {0u, 1u, 3u, 7u}) {
    ModelBench bmc;
    bmc.state.settings.erasePolls = polls;
    bmc.state.active.records = {WithId(MakeRecord(30), 0x10)};
    ASSERT_EQ(bmc.Lock(0)[2], 0x00);
    uint16_t resv = bmc.Reserve(true);
    uint32_t before = bmc.state.spared.repository.eraseStamp;
    wire::Bytes r = bmc.Erase(resv, 0xAA);
    uint32_t statusRequests = 0;
    while (r == wire::Bytes{0xFC, 0x14, 0x00, 0x00} && statusRequests < 100) {
      // Writing and reading wait for the erase to finish.
      EXPECT_EQ(bmc.PartialAdd(resv, 0, 0, 1, MakeRecord(0))[2], 0xD5);
      EXPECT_EQ(bmc.GetSdr(true, resv, 0, 0, 5)[2], 0xD5);
      r = bmc.Erase(resv, 0x00);
      ++statusRequests;
    }
    EXPECT_EQ(r, (wire::Bytes{0xFC, 0x14, 0x00, 0x01}));
    EXPECT_EQ(statusRequests, polls);
    EXPECT_TRUE(bmc.state.spared.repository.records.empty());
    EXPECT_GT(bmc.state.spared.repository.eraseStamp, before);
    // Asking again after completion keeps answering "completed".
    EXPECT_EQ(bmc.Erase(resv, 0x00), (wire::Bytes{0xFC, 0x14, 0x00, 0x01}));
  }
}

TEST(SparedSdr, EraseChecksReservationAndLetters) {
  ModelBench bmc;
  ASSERT_EQ(bmc.Lock(0)[2], 0x00);
  uint16_t resv = bmc.Reserve(true);
  EXPECT_EQ(bmc.Erase(0, 0xAA)[2], 0xC5);
  EXPECT_EQ(bmc.Erase(static_cast<uint16_t>(resv + 1), 0xAA)[2], 0xC5);
  EXPECT_EQ(bmc.Erase(resv, 0x55)[2], 0xCC);
  EXPECT_EQ(wire::HexSpaced(bmc.Send(
                wire::Bytes{0xF8, 0x14, ModelBench::Lo(resv), ModelBench::Hi(resv), 'C', 'L', 'X', 0xAA})),
            "FC 14 CC");
}

TEST(SparedSdr, PartialAddRefusesChunksThatDoNotFit) {
  const SdrRecord record = MakeRecord(20);  // 25 bytes
  const wire::Bytes head(record.begin(), record.begin() + 16);
  const wire::Bytes tail(record.begin() + 16, record.end());
  struct Case {
    const char* what;
    uint8_t offset;     // of the second chunk
    bool sameId;        // second chunk names the assigned ID
    uint8_t progress;   // of the second chunk
    wire::Bytes chunk;  // second chunk
    uint8_t code;       // expected answer
    bool pendingKept;   // the half-written record survives
  } cases[] = {
      {"offset not where the data ends", 15, true, 1, tail, 0xCC, true},
      {"unknown record ID", 16, false, 1, tail, 0xCB, true},
      {"more bytes than the body length", 16, true, 1, wire::Bytes(tail.size() + 1, 0x11), 0x80, false},
      {"last chunk leaves the record short", 16, true, 1, wire::Bytes(tail.begin(), tail.end() - 1), 0x80,
       false},
      {"progress byte neither 0 nor 1", 16, true, 2, tail, 0xCC, true},
  };
  for (const Case& c : cases) {
    ModelBench bmc;
    bmc.LockAndErase();
    uint16_t resv = bmc.Reserve(true);
    wire::Bytes r = bmc.PartialAdd(resv, 0, 0, 0, head);
    ASSERT_EQ(r[2], 0x00) << c.what;
    uint16_t id = ModelBench::Word(r, 3);
    uint16_t named = c.sameId ? id : static_cast<uint16_t>(id + 5);
    EXPECT_EQ(bmc.PartialAdd(resv, named, c.offset, c.progress, c.chunk)[2], c.code) << c.what;
    EXPECT_EQ(bmc.state.spared.pending.has_value(), c.pendingKept) << c.what;
    EXPECT_TRUE(bmc.state.spared.repository.records.empty()) << c.what;
  }
}

TEST(SparedSdr, PartialAddNeedsAValidReservationAndSpace) {
  ModelBench bmc;
  bmc.state.settings.capacity = 40;
  bmc.LockAndErase();
  uint16_t resv = bmc.Reserve(true);
  EXPECT_EQ(bmc.PartialAdd(0, 0, 0, 1, MakeRecord(11))[2], 0xC5);
  EXPECT_EQ(bmc.PartialAdd(resv, 0, 4, 1, MakeRecord(11))[2], 0xCC);  // a new record starts at 0
  bmc.WriteRecord(MakeRecord(11));                                    // 16 bytes
  bmc.WriteRecord(MakeRecord(11));                                    // 32 bytes
  resv = bmc.Reserve(true);
  EXPECT_EQ(bmc.PartialAdd(resv, 0, 0, 1, MakeRecord(11))[2], 0xC4);  // 48 > 40
  EXPECT_EQ(bmc.PartialAdd(resv, 0, 0, 1, MakeRecord(3))[2], 0x00);   // 40 fits
  EXPECT_EQ(bmc.state.spared.repository.records.size(), 3u);
}

TEST(SparedSdr, NewReservationDropsAHalfWrittenRecord) {
  ModelBench bmc;
  bmc.LockAndErase();
  SdrRecord record = MakeRecord(30);
  uint16_t resv = bmc.Reserve(true);
  wire::Bytes r = bmc.PartialAdd(resv, 0, 0, 0, wire::Bytes(record.begin(), record.begin() + 16));
  uint16_t id = ModelBench::Word(r, 3);
  uint16_t again = bmc.Reserve(true);
  EXPECT_EQ(bmc.PartialAdd(resv, id, 16, 1, wire::Bytes(record.begin() + 16, record.end()))[2], 0xC5);
  EXPECT_EQ(bmc.PartialAdd(again, id, 16, 1, wire::Bytes(record.begin() + 16, record.end()))[2], 0xCB);
  // The SDR tool's restart with record ID 0000h succeeds and reuses the free ID.
  uint16_t rewritten = 0;
  bmc.WriteRecord(record, &rewritten);
  EXPECT_EQ(rewritten, id);
}

}  // namespace
}  // namespace bmcsim
