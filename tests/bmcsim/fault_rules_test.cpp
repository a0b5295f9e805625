// Fault rules: their text form, the skip/count bookkeeping and every effect on an exchange.
#include "bmcsim/faults/fault_rules.h"

#include <gtest/gtest.h>

#include "bmcsim/faults/value_text.h"
#include "tests/bmcsim/model_bench.h"

namespace bmcsim {
namespace {

FaultRule Rule(const std::string& text) {
  FaultRule rule;
  std::string error;
  EXPECT_TRUE(ParseFaultRule(text, &rule, &error)) << text << ": " << error;
  return rule;
}

TEST(FaultRules, ParseToCanonicalForm) {
  struct Case {
    const char* text;
    const char* canonical;
  } cases[] = {
      {"netfn=0x0a cmd=0x23 cc=0xc5", "netfn=0x0a cmd=0x23 count=1 cc=0xc5"},
      {"netfn=0x28 cmd=35 skip=2 count=always status=10",
       "netfn=0x0a cmd=0x23 skip=2 count=always status=10"},
      {"cmd=0x13 netfn=0xF8 match=01 00 length=4", ""},  // "00" is not key=value
      {"netfn=0x3e cmd=0x13 match=0100 count=3 length=4", "netfn=0x3e cmd=0x13 match=0100 count=3 length=4"},
      {"netfn=6 cmd=1 delay=250", "netfn=0x06 cmd=0x01 count=1 delay=250"},
      {"netfn=0x0a cmd=0x23 patch=3:0200", "netfn=0x0a cmd=0x23 count=1 patch=3:0200"},
      {"netfn=0x3e cmd=0x13 cancel", "netfn=0x3e cmd=0x13 count=1 cancel"},
      {"netfn=0x20 cmd=0x03 count=always flip=28", "netfn=0x08 cmd=0x03 count=always flip=28"},
      {"netfn=0x08 cmd=0x05 flip=2:04", "netfn=0x08 cmd=0x05 count=1 flip=2:04"},
      {"netfn=0x3e cmd=0x13 skip=6 wmi=fail", "netfn=0x3e cmd=0x13 skip=6 count=1 wmi=fail"},
  };
  for (const Case& c : cases) {
    FaultRule rule;
    std::string error;
    bool ok = ParseFaultRule(c.text, &rule, &error);
    EXPECT_EQ(ok, *c.canonical != 0) << c.text << ": " << error;
    if (!ok) continue;
    EXPECT_EQ(FormatFaultRule(rule), c.canonical);
    FaultRule again;
    ASSERT_TRUE(ParseFaultRule(FormatFaultRule(rule), &again, &error));
    EXPECT_EQ(FormatFaultRule(again), c.canonical);
  }
}

TEST(FaultRules, RefuseIncompleteOrContradictoryRules) {
  for (const char* text : {
           "",
           "netfn=0x0a cc=0xc5",                   // no cmd
           "netfn=0x0a cmd=0x23",                  // no effect
           "netfn=0x0a cmd=0x23 cc=0xc5 delay=5",  // two effects
           "netfn=0x0a cmd=0x23 cc=0x100",         // code too big
           "netfn=0x0a cmd=0x23 status=8",         // only 9 or 10
           "netfn=0x29 cmd=0x23 cc=1",             // neither a netfn nor a request byte
           "netfn=0x0a cmd=0x23 count=-1 cc=1",
           "netfn=0x0a cmd=0x23 match=0 cc=1",              // odd hex
           "netfn=0x0a cmd=0x23 patch=3 cc=1",              // two effects, and patch without data
           "netfn=0x0a cmd=0x23 patch=250:00112233445566",  // beyond 255 bytes
           "netfn=0x0a cmd=0x23 length=256",
           "netfn=0x0a cmd=0x23 cancel=1",
           "netfn=0x0a netfn=0x0a cmd=0x23 cc=1",
           "netfn=0x0a cmd=0x23 colour=red cc=1",
           "netfn=0x08 cmd=0x03 flip=0",  // data bytes count from 1
           "netfn=0x08 cmd=0x03 flip=253",
           "netfn=0x08 cmd=0x03 flip=2:00",    // a mask that flips nothing
           "netfn=0x08 cmd=0x03 flip=2:0102",  // one byte's mask
           "netfn=0x3e cmd=0x13 wmi=ok",
           "netfn=0x3e cmd=0x13 wmi=fail cc=0xff",
       }) {
    FaultRule rule;
    std::string error;
    EXPECT_FALSE(ParseFaultRule(text, &rule, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(FaultRules, SkipThenCountMatchingExchangesOnly) {
  ModelBench bmc;
  bmc.state.faults = {Rule("netfn=0x06 cmd=0x01 skip=2 count=2 cc=0xc0")};
  std::string codes;
  for (int i = 0; i < 6; ++i) {
    bmc.Send("28 20");  // does not match: not counted
    codes += HexByte(bmc.Send("18 01")[2]) + " ";
  }
  EXPECT_EQ(codes, "0x00 0x00 0xc0 0xc0 0x00 0x00 ");
  EXPECT_EQ(FormatFaultRule(bmc.state.faults[0]), "netfn=0x06 cmd=0x01 count=0 cc=0xc0");
}

TEST(FaultRules, MatchSelectsByRequestDataAndAlwaysNeverRunsOut) {
  ModelBench bmc;
  bmc.state.faults = {Rule("netfn=0x3e cmd=0x10 match=02 count=always cc=0xd5")};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(bmc.Lock(0)[2], 0x00);
    EXPECT_EQ(bmc.Lock(2)[2], 0xD5);
  }
}

TEST(FaultRules, EveryMatchingRuleCountsAndAllThatFireApply) {
  ModelBench bmc;
  bmc.state.settings.latencyMs = 20;
  bmc.state.faults = {Rule("netfn=0x06 cmd=0x01 delay=100"), Rule("netfn=0x06 cmd=0x01 count=2 delay=5"),
                      Rule("netfn=0x06 cmd=0x01 length=5")};
  ExchangeResult r = bmc.Run({0x18, 0x01});
  EXPECT_EQ(r.delayMs, 125u);
  EXPECT_EQ(r.response.size(), 5u);
  r = bmc.Run({0x18, 0x01});
  EXPECT_EQ(r.delayMs, 25u);
  EXPECT_EQ(r.response.size(), 18u);
}

TEST(FaultRules, CompletionCodeReplacesTheAnswerWithoutCarryingOutTheRequest) {
  ModelBench bmc;
  bmc.state.faults = {Rule("netfn=0x0a cmd=0x22 cc=0xc0")};
  EXPECT_EQ(wire::HexSpaced(bmc.Send("28 22")), "2C 22 C0");
  EXPECT_EQ(bmc.state.active.reservation, 0);
}

TEST(FaultRules, Status9NeverArrivesStatus10LosesTheAnswer) {
  ModelBench bmc;
  bmc.state.settings.latencyMs = 50;
  bmc.state.faults = {Rule("netfn=0x0a cmd=0x22 status=9"), Rule("netfn=0x0a cmd=0x22 skip=1 status=10")};
  ExchangeResult r = bmc.Run({0x28, 0x22});
  EXPECT_EQ(r.outcome, ExchangeOutcome::kUnreachable);
  EXPECT_EQ(bmc.state.active.reservation, 0);
  EXPECT_EQ(r.delayMs, 0u);  // nothing to wait for
  r = bmc.Run({0x28, 0x22});
  EXPECT_EQ(r.outcome, ExchangeOutcome::kTransferFailed);
  EXPECT_NE(bmc.state.active.reservation, 0);
  EXPECT_EQ(ExchangeLogLine(wire::Bytes{0x28, 0x22}.data(), 2, r), "28 22 -> status 10");
}

TEST(FaultRules, LengthCutsOrPadsAndPatchOverwritesOrExtends) {
  ModelBench bmc;
  bmc.state.faults = {Rule("netfn=0x06 cmd=0x01 length=15"), Rule("netfn=0x06 cmd=0x01 skip=1 length=20"),
                      Rule("netfn=0x3e cmd=0xe0 patch=4:AABB"),
                      Rule("netfn=0x3e cmd=0xe0 skip=1 patch=6:01")};
  EXPECT_EQ(bmc.Send("18 01").size(), 15u);
  wire::Bytes padded = bmc.Send("18 01");
  ASSERT_EQ(padded.size(), 20u);
  EXPECT_EQ(padded[18], 0x00);
  EXPECT_EQ(wire::HexSpaced(bmc.Send("F8 E0")), "FC E0 00 00 AA BB");
  EXPECT_EQ(wire::HexSpaced(bmc.Send("F8 E0")), "FC E0 00 00 00 00 01");
}

TEST(FaultRules, FlipInvertsBitsOfOneDataByteOfAnswersThatHaveIt) {
  ModelBench bmc;
  const uint8_t cells[] = {0x10, 0x20, 0x30};
  bmc.state.firmware.banks[0].Store(0x10000, cells, sizeof cells);
  bmc.state.faults = {Rule("netfn=0x08 cmd=0x03 count=2 flip=2"), Rule("netfn=0x06 cmd=0x01 flip=1"),
                      Rule("netfn=0x06 cmd=0x01 skip=1 flip=1:08")};
  EXPECT_EQ(wire::HexSpaced(bmc.Send("20 03 00 00 01 00 03")), "24 03 00 10 DF 30");
  EXPECT_EQ(wire::HexSpaced(bmc.Send("20 03 00 00 01 00 01")), "24 03 00 10");  // no byte 2: unchanged
  EXPECT_EQ(wire::HexSpaced(bmc.Send("20 03 00 00 01 00 03")), "24 03 00 10 20 30");
  EXPECT_EQ(bmc.Send("18 01")[3], 0xDF);                                                 // device ID 20h
  EXPECT_EQ(bmc.Send("18 01")[3], 0x28);                                                 // one bit of it
  EXPECT_EQ(wire::HexSpaced(bmc.state.firmware.banks[0].Read(0x10000, 3)), "10 20 30");  // the flash is right
}

TEST(FaultRules, PatchedNextRecordIdMakesTheChainLoop) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(11), 1), WithId(MakeRecord(11), 2),
                              WithId(MakeRecord(11), 3)};
  bmc.state.faults = {Rule("netfn=0x0a cmd=0x23 match=01000300 count=always patch=3:0100")};
  uint16_t resv = bmc.Reserve();
  EXPECT_EQ(ModelBench::Word(bmc.GetSdr(false, resv, 3, 0, 5), 3), 1);
  EXPECT_EQ(ModelBench::Word(bmc.GetSdr(false, resv, 2, 0, 5), 3), 3);
}

TEST(FaultRules, CancelTakesTheReservationAwayJustBeforeTheRequest) {
  ModelBench bmc;
  bmc.state.active.records = {WithId(MakeRecord(20), 1)};
  bmc.state.faults = {Rule("netfn=0x0a cmd=0x23 skip=1 cancel"), Rule("netfn=0x3e cmd=0x13 skip=1 cancel")};
  uint16_t resv = bmc.Reserve();
  EXPECT_EQ(bmc.GetSdr(false, resv, 1, 0, 5)[2], 0x00);
  EXPECT_EQ(bmc.GetSdr(false, resv, 1, 5, 16)[2], 0xC5);  // the model itself answers C5
  // The second chunk of a Partial Add: the half-written record is dropped.
  bmc.LockAndErase();
  SdrRecord record = MakeRecord(20);
  uint16_t spared = bmc.Reserve(true);
  wire::Bytes r = bmc.PartialAdd(spared, 0, 0, 0, wire::Bytes(record.begin(), record.begin() + 16));
  ASSERT_EQ(r[2], 0x00);
  EXPECT_EQ(bmc.PartialAdd(spared, ModelBench::Word(r, 3), 16, 1,
                           wire::Bytes(record.begin() + 16, record.end()))[2],
            0xC5);
  EXPECT_FALSE(bmc.state.spared.pending.has_value());
  bmc.WriteRecord(record);  // a restart from the first chunk succeeds
  EXPECT_EQ(bmc.state.spared.repository.records.size(), 1u);
}

}  // namespace
}  // namespace bmcsim
