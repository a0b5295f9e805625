// The standard commands: Get Device ID, repository info, reservations, Get SDR.
#include <gtest/gtest.h>

#include <random>

#include "bmcsim/store/state_file.h"
#include "bmcsim/store/state_payload.h"
#include "tests/bmcsim/model_bench.h"

namespace bmcsim {
namespace {

TEST(BmcModel, GetDeviceIdAnswers18BytesOr14WithoutAuxRevision) {
  ModelBench bmc;
  bmc.state.identity.productId = 0x1A2B;
  bmc.state.identity.auxRevision[3] = 0x77;
  wire::Bytes full = bmc.Send("18 01");
  ASSERT_EQ(full.size(), 18u);
  EXPECT_EQ(wire::HexSpaced(full), "1C 01 00 20 01 01 00 02 BF 2D 9B 4E 2B 1A 00 00 00 77");
  bmc.state.identity.auxPresent = false;
  EXPECT_EQ(bmc.Send("18 01").size(), 14u);
  EXPECT_EQ(wire::HexSpaced(bmc.Send("18 01 00")), "1C 01 C7");
}

TEST(BmcModel, UnknownCommandsAndNetworkFunctionsAnswerC1) {
  ModelBench bmc;
  for (const char* request : {"18 02", "28 24", "F8 15", "20 08 01", "30 01"}) {
    wire::Bytes r = bmc.Send(request);
    ASSERT_EQ(r.size(), 3u) << request;
    EXPECT_EQ(r[2], 0xC1) << request;
  }
  EXPECT_EQ(wire::HexSpaced(bmc.Send("F8 15")), "FC 15 C1");
}

TEST(BmcModel, OemE0AnswersItsThreeConfiguredBytes) {
  ModelBench bmc;
  bmc.state.settings.oemE0[0] = 0x12;
  bmc.state.settings.oemE0[2] = 0x34;
  EXPECT_EQ(wire::HexSpaced(bmc.Send("F8 E0")), "FC E0 00 12 00 34");
}

TEST(BmcModel, RepositoryInfoReportsCountFreeSpaceAndStamps) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(11), 1), WithId(MakeRecord(59), 2)};
  bmc.state.active.additionStamp = 0x11223344;
  bmc.state.active.eraseStamp = 0x55667788;
  EXPECT_EQ(wire::HexSpaced(bmc.Send("28 20")), "2C 20 00 51 02 00 AF FF 44 33 22 11 88 77 66 55 26");
  // Free space stops at FFFEh ("64 KiB - 2 or more"), also for a capacity above 64 KiB.
  bmc.state.settings.capacity = 200000;
  wire::Bytes r = bmc.Send("28 20");
  EXPECT_EQ(ModelBench::Word(r, 6), 0xFFFE);
  bmc.state.settings.capacity = 80;
  EXPECT_EQ(ModelBench::Word(bmc.Send("28 20"), 6), 0);
}

TEST(BmcModel, NewReservationCancelsTheOldOne) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(20), 7)};
  uint16_t first = bmc.Reserve();
  EXPECT_EQ(bmc.GetSdr(false, first, 0, 5, 4)[2], 0x00);
  uint16_t second = bmc.Reserve();
  EXPECT_NE(first, second);
  EXPECT_EQ(wire::HexSpaced(bmc.GetSdr(false, first, 0, 5, 4)), "2C 23 C5");
  EXPECT_EQ(bmc.GetSdr(false, second, 0, 5, 4)[2], 0x00);
  // 0000h needs no reservation for a read from offset 0, and is refused elsewhere.
  EXPECT_EQ(bmc.GetSdr(false, 0, 0, 0, 5)[2], 0x00);
  EXPECT_EQ(bmc.GetSdr(false, 0, 0, 5, 4)[2], 0xC5);
}

TEST(BmcModel, SparedAndStandardReservationsAreIndependent) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(20), 7)};
  ASSERT_EQ(bmc.Lock(0)[2], 0x00);
  uint16_t standard = bmc.Reserve(false);
  uint16_t spared = bmc.Reserve(true);
  EXPECT_NE(standard, spared);
  EXPECT_EQ(bmc.GetSdr(false, standard, 0, 5, 4)[2], 0x00);
  EXPECT_EQ(bmc.GetSdr(true, spared, 0, 5, 4)[2], 0x00);
  // A reservation of one repository is no good on the other.
  EXPECT_EQ(bmc.GetSdr(true, standard, 0, 5, 4)[2], 0xC5);
}

TEST(BmcModel, GetSdrAnswersEdgesOfTheRecordChain) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(11), 0), WithId(MakeRecord(20), 4), WithId(MakeRecord(3), 9)};
  uint16_t resv = bmc.Reserve();
  struct Case {
    uint16_t id;
    uint8_t offset, count;
    const char* expected;
  } cases[] = {
      {0x0000, 0, 5, "2C 23 00 04 00 00 00 51 01 0B"},  // first record, next is 4
      {0x0004, 0, 5, "2C 23 00 09 00 04 00 51 01 14"},  // by ID
      {0xFFFF, 0, 5, "2C 23 00 FF FF 09 00 51 01 03"},  // last record, chain ends
      {0x0009, 5, 0xFF, "2C 23 00 FF FF 40 41 42"},     // FFh reads to the end
      {0x0009, 6, 2, "2C 23 00 FF FF 41 42"},           // exactly to the end
      {0x0009, 6, 3, "2C 23 CA"},                       // beyond the end
      {0x0009, 9, 0, "2C 23 CA"},                       // offset beyond the end
      {0x0005, 0, 5, "2C 23 CB"},                       // no such record
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wire::HexSpaced(bmc.GetSdr(false, resv, c.id, c.offset, c.count)), c.expected)
        << "record " << c.id << " offset " << int(c.offset) << " count " << int(c.count);
  }
  EXPECT_EQ(wire::HexSpaced(bmc.Send("28 23 01 00 00 00 00")), "2C 23 C7");
  EXPECT_EQ(wire::HexSpaced(bmc.Send("28 23 01 00 00 00 00 05 00")), "2C 23 C7");
  bmc.state.active.records.clear();
  EXPECT_EQ(wire::HexSpaced(bmc.GetSdr(false, resv, 0, 0, 5)), "2C 23 CB");
}

TEST(BmcModel, ReadBackWalksTheWholeRealRepository) {
  ModelBench bmc;
  for (uint8_t body : {0, 1, 11, 12, 59, 64}) {
    SdrRecord r = WithId(MakeRecord(body, body), static_cast<uint16_t>(body + 1));
    bmc.state.active.records.push_back(r);
  }
  EXPECT_EQ(bmc.ReadAll(false), bmc.state.active.records);
}

TEST(BmcModel, EveryChangeMovesTheTimestampsForward) {
  platform::VirtualClock clock(5000);
  BmcState state = FreshState({}, {}, clock);
  EXPECT_EQ(state.active.eraseStamp, 5000u);
  EXPECT_EQ(NextStamp(state, clock), 5001u);  // same second: still later
  EXPECT_EQ(NextStamp(state, clock), 5002u);
  clock.SetWallSeconds(4000);  // the wall clock set back
  EXPECT_EQ(NextStamp(state, clock), 5003u);
  clock.SetWallSeconds(9000);
  EXPECT_EQ(NextStamp(state, clock), 9000u);
}

TEST(BmcModel, ArbitraryRequestsGetWellFormedAnswersAndKeepTheStateSound) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(11), 1), WithId(MakeRecord(40), 2)};
  std::mt19937 random(1234);
  const uint8_t netFns[] = {0x18, 0x28, 0xF8, 0x20};
  const uint8_t commands[] = {0x01, 0x10, 0x11, 0x12, 0x13, 0x14, 0x20, 0x22, 0x23, 0xE0};
  for (int i = 0; i < 20000; ++i) {
    wire::Bytes request{netFns[random() % 4], commands[random() % 10]};
    // Mostly plausible shapes: small reservation and record IDs, short data.
    size_t length = random() % 24;
    for (size_t k = 0; k < length; ++k) request.push_back(static_cast<uint8_t>(random() % (k < 4 ? 4 : 256)));
    if (request[1] == 0x10 && request.size() > 2) request.resize(3);  // keep the lock cycling
    wire::Bytes r = bmc.Send(request);
    ASSERT_GE(r.size(), 3u);
    ASSERT_EQ(r[0], request[0] + 4);
    ASSERT_EQ(r[1], request[1]);
    ASSERT_LE(r.size(), 255u);
    if (r[2] != 0) {
      ASSERT_EQ(r.size(), 3u);
    }
  }
  for (const SdrRecord& record : bmc.state.spared.repository.records) {
    EXPECT_EQ(record.size(), 5u + record[4]);
  }
  BmcState reloaded;
  StateVersion version;
  std::string error;
  ASSERT_TRUE(
      ParseStateFile(StateFileContent(SerializeState(bmc.state), {1, 1}), &reloaded, &version, &error))
      << error;
  EXPECT_EQ(SerializeState(reloaded), SerializeState(bmc.state));
}

}  // namespace
}  // namespace bmcsim
