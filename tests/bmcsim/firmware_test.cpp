// The firmware side of the model: the NOR flash with its erase units and busy time, the flash
// ID chip, the image and downloader selectors, a BMC reset, and channel 2's access settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bmcsim/model/flash_layout.h"
#include "bmcsim/store/state_payload.h"
#include "tests/bmcsim/model_bench.h"

namespace bmcsim {
namespace {

constexpr uint32_t kBank = 0x100000;  // a small bank keeps the cases quick

void MakeDevice(ModelBench& bmc, uint8_t deviceId, uint32_t bankSize = kBank) {
  DeviceIdentity identity;
  identity.deviceId = deviceId;
  bmc.state = FreshState(identity, {}, bmc.clock);
  bmc.state.firmware.bankSize = bankSize;
}

wire::Bytes WithAddress(uint8_t command, uint32_t address, const wire::Bytes& rest = {}) {
  wire::ByteWriter out;
  out.U8(0x20).U8(command).U32(address).Append(rest);
  return out.Take();
}
wire::Bytes Erase(uint32_t address) {
  return WithAddress(0x01, address);
}
wire::Bytes Write(uint32_t address, const wire::Bytes& data) {
  return WithAddress(0x02, address, data);
}
wire::Bytes Read(uint32_t address, uint8_t count) {
  return WithAddress(0x03, address, {count});
}
std::string Hex(const wire::Bytes& bytes) {
  return wire::HexSpaced(bytes);
}

TEST(Firmware, FlashWritesOnlyClearBitsUntilErased) {
  struct Case {
    const char* what;
    bool eraseFirst;
    wire::Bytes first, second;
    const char* read;
  } cases[] = {
      {"erased cells take the data", true, {0x12, 0x34}, {}, "24 03 00 12 34 FF"},
      {"00 then FF leaves 00", true, {0x00, 0x00}, {0xFF, 0xFF}, "24 03 00 00 00 FF"},
      {"FF then 00 gives 00", true, {0xFF, 0xFF}, {0x00, 0x00}, "24 03 00 00 00 FF"},
      {"two patterns meet in their AND", true, {0xF0, 0xAA}, {0x3C, 0x55}, "24 03 00 30 00 FF"},
      {"unerased cells corrupt the data", false, {0xA5, 0x0F}, {}, "24 03 00 00 0A 5A"},
  };
  for (const Case& c : cases) {
    ModelBench bmc;
    MakeDevice(bmc, 0x30);
    const wire::Bytes old{0x5A, 0x5A, 0x5A};  // what the sector held before
    bmc.state.firmware.banks[0].Store(0x20000, old.data(), old.size());
    if (c.eraseFirst) {
      ASSERT_EQ(Hex(bmc.Send(Erase(0x20000))), "24 01 00") << c.what;
      ASSERT_EQ(Hex(bmc.Send(Read(0x20000, 3))), "24 03 00 FF FF FF") << c.what;
    }
    // The write answers success whatever the cells kept: only a read-back finds out.
    EXPECT_EQ(Hex(bmc.Send(Write(0x20000, c.first))), "24 02 00") << c.what;
    if (!c.second.empty()) {
      EXPECT_EQ(Hex(bmc.Send(Write(0x20000, c.second))), "24 02 00") << c.what;
    }
    EXPECT_EQ(Hex(bmc.Send(Read(0x20000, 3))), c.read) << c.what;
  }
}

TEST(Firmware, EraseClearsTheWholeUnitThatHoldsTheAddress) {
  struct Case {
    const char* what;
    std::optional<uint8_t> chip;
    uint8_t sectorCode;
    uint32_t bankSize;
    uint8_t deviceId;
    uint32_t address;
    uint32_t start, length;  // erased part of the downloader's bank, from its start
  } cases[] = {
      {"boot block 0", 1, 1, kBank, 0x30, 0x0000, 0x0000, 0x2000},
      {"any address inside a boot block", 1, 1, kBank, 0x30, 0x3FFF, 0x2000, 0x2000},
      {"the upper boot blocks are 8 KiB too", 1, 1, kBank, 0x30, 0x8000, 0x8000, 0x2000},
      {"last boot block", 1, 1, kBank, 0x30, 0xFFFF, 0xE000, 0x2000},
      {"first sector above the boot blocks", 1, 1, kBank, 0x30, 0x10000, 0x10000, 0x10000},
      {"last sector", 1, 1, kBank, 0x30, 0xFFFFF, 0xF0000, 0x10000},
      {"no chip answers: 64-KiB geometry", std::nullopt, 2, kBank, 0x30, 0x4000, 0x4000, 0x2000},
      {"chips 0..3 keep 64-KiB sectors", 3, 2, kBank, 0x30, 0x2000, 0x2000, 0x2000},
      {"chip 4, sector code 1", 4, 1, kBank, 0x38, 0x102000, 0x2000, 0x2000},
      {"chip 4, code 2: 256 KiB, no boot blocks", 4, 2, kBank, 0x38, 0x100000, 0x00000, 0x40000},
      {"chip 4, code 2, inside a sector", 4, 2, kBank, 0x38, 0x150000, 0x40000, 0x40000},
      {"a sector cut by the bank end", 4, 2, 0xD0000, 0x38, 0x190000, 0xC0000, 0x10000},
      {"bank 2 has its own boot blocks", 1, 1, kBank, 0x39, 0x10A000, 0xA000, 0x2000},
  };
  for (const Case& c : cases) {
    ModelBench bmc;
    MakeDevice(bmc, c.deviceId, c.bankSize);
    FirmwareState& firmware = bmc.state.firmware;
    firmware.chip.index = c.chip;
    firmware.chip.sectorCode = c.sectorCode;
    const wire::Bytes zeros(c.bankSize, 0x00);
    for (FlashBank& bank : firmware.banks) bank.Store(0, zeros.data(), zeros.size());
    ASSERT_EQ(Hex(bmc.Send(Erase(c.address))), "24 01 00") << c.what;

    uint8_t target = firmware.downloaderBank;
    wire::Bytes cells = firmware.banks[target - 1].Read(0, c.bankSize);
    size_t first = 0;
    while (first < cells.size() && cells[first] != 0xFF) ++first;
    size_t end = first;
    while (end < cells.size() && cells[end] == 0xFF) ++end;
    EXPECT_EQ(first, c.start) << c.what;
    EXPECT_EQ(end - first, c.length) << c.what;
    EXPECT_EQ(std::count(cells.begin(), cells.end(), 0xFF), static_cast<long>(c.length)) << c.what;
    if (BankCount(bmc.state) == 2) {
      EXPECT_TRUE(firmware.banks[2 - target].Read(0, c.bankSize) == zeros)
          << c.what << ": other bank touched";
    }
    EXPECT_EQ(firmware.activity[target - 1].erases, 1u) << c.what;
  }
}

TEST(Firmware, EraseKeepsTheChipBusyForItsTime) {
  ModelBench bmc;
  MakeDevice(bmc, 0x30);
  bmc.state.firmware.eraseMs = 300;
  ASSERT_EQ(Hex(bmc.Send(Erase(0x10000))), "24 01 00");
  // Every ID chip index polls the erase; the flash commands wait; the selectors do not.
  const char* busy[] = {"20 00 01", "20 00 03", "20 01 00 00 02 00", "20 02 00 00 02 00 11",
                        "20 03 00 00 02 00 01"};
  for (uint64_t advance : {0, 299}) {
    bmc.clock.Advance(advance);
    for (const char* request : busy)
      EXPECT_EQ(bmc.Send(request).at(2), 0xC0) << request << " after " << advance;
    EXPECT_EQ(Hex(bmc.Send("20 05")), "24 05 00 00 01");
  }
  bmc.clock.Advance(1);
  EXPECT_EQ(Hex(bmc.Send("20 00 01")), "24 00 00 01 01 01");
  EXPECT_EQ(Hex(bmc.Send("20 02 00 00 02 00 11")), "24 02 00");
  EXPECT_EQ(bmc.state.firmware.activity[0].erases, 1u);  // the refused erase did nothing
  EXPECT_EQ(bmc.state.firmware.activity[0].writes, 1u);

  // An erase stamped by another process's clock, ahead of this one, is not waited for.
  bmc.state.firmware.eraseRunning = true;
  bmc.state.firmware.eraseStartMs = bmc.clock.MonotonicMs() + 100000;
  EXPECT_EQ(Hex(bmc.Send("20 00 01")), "24 00 00 01 01 01");
  // Without an erase time the chip is never busy.
  bmc.state.firmware.eraseMs = 0;
  ASSERT_EQ(Hex(bmc.Send(Erase(0x10000))), "24 01 00");
  EXPECT_EQ(Hex(bmc.Send("20 00 01")), "24 00 00 01 01 01");
}

TEST(Firmware, IdChipAnswersOnlyForTheFittedIndex) {
  struct Case {
    std::optional<uint8_t> fitted;
    uint8_t sizeCode, sectorCode;
    const char* request;
    const char* response;
  } cases[] = {
      {1, 1, 1, "20 00 01", "24 00 00 01 01 01"},
      {1, 1, 1, "20 00 00", "24 00 00"},
      {1, 1, 1, "20 00 04", "24 00 00"},
      {4, 3, 2, "20 00 04", "24 00 00 04 03 02"},
      {2, 3, 2, "20 00 02", "24 00 00 02 01 01"},  // only chip 4 reports its codes
      {std::nullopt, 3, 2, "20 00 03", "24 00 00"},
      {std::nullopt, 3, 2, "20 00 05", "24 00 00"},
      {1, 1, 1, "20 00", "24 00 C7"},
      {1, 1, 1, "20 00 01 00", "24 00 C7"},
  };
  for (const Case& c : cases) {
    ModelBench bmc;
    MakeDevice(bmc, 0x38);
    bmc.state.firmware.chip = FlashChip{c.fitted, c.sizeCode, c.sectorCode};
    EXPECT_EQ(Hex(bmc.Send(c.request)), c.response) << c.request;
  }
}

TEST(Firmware, FlashCommandsRefuseWhatTheyCannotReach) {
  // Dual-bank, running bank 1, downloading into bank 2 at 100000h.
  struct Case {
    const char* what;
    wire::Bytes request;
    const char* response;
  } cases[] = {
      {"erase in the running bank", Erase(0x050000), "24 01 C9"},
      {"erase in the downloader's bank", Erase(0x150000), "24 01 00"},
      {"erase beyond the flash", Erase(0x200000), "24 01 C9"},
      {"write in the running bank", Write(0x000100, {1}), "24 02 C9"},
      {"write across the flash end", Write(0x1FFFFF, {1, 2}), "24 02 C9"},
      {"write up to the flash end", Write(0x1FFFFE, {1, 2}), "24 02 00"},
      {"read the running bank", Read(0x000000, 2), "24 03 00 FF FF"},
      {"read across the banks", Read(0x0FFFFF, 2), "24 03 C9"},
      {"read no bytes", Read(0x100000, 0), "24 03 CC"},
      {"read more than an answer holds", Read(0x100000, 253), "24 03 CA"},
      {"erase without a whole address", {0x20, 0x01, 0x00, 0x00, 0x10}, "24 01 C7"},
      {"erase with a byte too many", {0x20, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00}, "24 01 C7"},
      {"write without data", {0x20, 0x02, 0x00, 0x00, 0x10, 0x00}, "24 02 C7"},
      {"read without a count", {0x20, 0x03, 0x00, 0x00, 0x10, 0x00}, "24 03 C7"},
  };
  ModelBench bmc;
  MakeDevice(bmc, 0x3A);
  for (const Case& c : cases) EXPECT_EQ(Hex(bmc.Send(c.request)), c.response) << c.what;
  EXPECT_EQ(bmc.Send(Read(0x100000, 252)).size(), 255u);
  EXPECT_EQ(bmc.state.firmware.activity[0].erases + bmc.state.firmware.activity[0].writes, 0u);
  EXPECT_EQ(bmc.state.firmware.activity[1].erases, 1u);
  EXPECT_EQ(bmc.state.firmware.activity[1].writes, 1u);
  // A single-bank device has nothing where bank 2 would be.
  MakeDevice(bmc, 0x31);
  EXPECT_EQ(Hex(bmc.Send(Read(0x100000, 1))), "24 03 C9");
  EXPECT_EQ(Hex(bmc.Send(Erase(0x100000))), "24 01 C9");
}

TEST(Firmware, SelectorsChooseTheBanksAndAResetBootsTheSelectedOne) {
  struct Step {
    const char* request;
    const char* response;
  };
  const Step dualBank[] = {
      {"20 05", "24 05 00 00 01"},              // booted from bank 1
      {"20 07", "24 07 00 02 01 00 00 10 00"},  // downloading into bank 2 at 100000h
      {"20 06 01", "24 06 00"},                 // the running bank may be chosen
      {"20 07", "24 07 00 01 01 00 00 00 00"},
      {"20 06 FF", "24 06 00"},  // FFh: the bank not running
      {"20 07", "24 07 00 02 01 00 00 10 00"},
      {"20 06 03", "24 06 CC"},
      {"20 06 00", "24 06 CC"},
      {"20 06", "24 06 C7"},
      {"20 04 04", "24 04 00"},  // 04h: boot the downloader's bank
      {"20 05", "24 05 00 00 02"},
      {"20 04 01", "24 04 00"},
      {"20 05", "24 05 00 00 01"},
      {"20 04 03", "24 04 CC"},
      {"20 04 02", "24 04 00"},
      {"20 07", "24 07 00 02 01 00 00 10 00"},  // nothing runs bank 2 before a reset
  };
  ModelBench bmc;
  MakeDevice(bmc, 0x38);
  for (const Step& step : dualBank) EXPECT_EQ(Hex(bmc.Send(step.request)), step.response) << step.request;
  ResetBmc(bmc.state);
  EXPECT_EQ(Hex(bmc.Send("20 05")), "24 05 00 00 02");
  EXPECT_EQ(Hex(bmc.Send("20 07")), "24 07 00 01 02 00 00 00 00");

  const Step singleBank[] = {
      {"20 07", "24 07 00 01 01 00 00 00 00"},
      {"20 06 02", "24 06 CC"},
      {"20 06 FF", "24 06 00"},
      {"20 04 02", "24 04 CC"},
      {"20 04 04", "24 04 00"},
      {"20 05", "24 05 00 00 01"},
  };
  MakeDevice(bmc, 0x30);
  for (const Step& step : singleBank) EXPECT_EQ(Hex(bmc.Send(step.request)), step.response) << step.request;
}

TEST(Firmware, ChannelAccessKeepsVolatileAndNonVolatileApart) {
  struct Step {
    const char* request;
    const char* response;
  };
  const Step steps[] = {
      {"18 41 02 80", "1C 41 00 22 04"},  // volatile
      {"18 41 02 40", "1C 41 00 22 04"},  // non-volatile
      {"18 40 02 80 04", "1C 40 00"},     // disable, volatile only; privilege not set
      {"18 41 02 80", "1C 41 00 00 04"},
      {"18 41 02 40", "1C 41 00 22 04"},
      {"18 40 02 5B 43", "1C 40 00"},  // non-volatile: flags and mode 3, limit 3
      {"18 41 02 40", "1C 41 00 1B 03"},
      {"18 41 02 80", "1C 41 00 00 04"},
      {"18 40 02 A2 04", "1C 40 00"},  // a saved 22h restored as A2h
      {"18 41 02 80", "1C 41 00 22 04"},
      {"18 40 02 00 85", "1C 40 00"},  // volatile limit only
      {"18 41 02 80", "1C 41 00 22 05"},
      {"18 40 02 00 00", "1C 40 00"},  // nothing set; a limit of 0 goes unchecked
      {"18 41 01 80", "1C 41 82"},     // no other channel has these settings
      {"18 41 0E 80", "1C 41 82"},
      {"18 40 0F 80 04", "1C 40 82"},
      {"18 41 12 80", "1C 41 CC"},  // reserved bits
      {"18 41 02 81", "1C 41 CC"},
      {"18 40 02 80 34", "1C 40 CC"},
      {"18 41 02 00", "1C 41 CC"},  // neither setting asked for
      {"18 41 02 C0", "1C 41 CC"},
      {"18 40 02 C2 04", "1C 40 83"},  // reserved selector
      {"18 40 02 00 C4", "1C 40 83"},
      {"18 40 02 84 04", "1C 40 83"},  // access mode 4
      {"18 40 02 80 80", "1C 40 CC"},  // limit 0 being set
      {"18 40 02 80 86", "1C 40 CC"},
      {"18 41 02", "1C 41 C7"},
      {"18 40 02 80", "1C 40 C7"},
      {"18 41 02 80", "1C 41 00 22 05"},  // the refusals changed nothing
      {"18 41 02 40", "1C 41 00 1B 03"},
  };
  ModelBench bmc;
  for (const Step& step : steps) EXPECT_EQ(Hex(bmc.Send(step.request)), step.response) << step.request;
  ResetBmc(bmc.state);
  EXPECT_EQ(Hex(bmc.Send("18 41 02 80")), "1C 41 00 1B 03");  // a reset reloads the volatile setting
}

TEST(Firmware, ChangesReplayedFromTheirSectionsGiveTheSameState) {
  // What a journal record carries for an exchange (changed sections and flash cells),
  // applied to a copy of the state before it, must give the state after it.
  ModelBench bmc;
  MakeDevice(bmc, 0x38, 0x40000);
  bmc.state.firmware.eraseMs = 3;
  BmcState replayed = bmc.state;
  std::mt19937 random(99);
  const uint8_t firmwareCommands[] = {0x00, 0x01, 0x02, 0x02, 0x02, 0x03, 0x04, 0x06};
  for (int i = 0; i < 4000; ++i) {
    wire::Bytes request;
    if (random() % 8 == 0) {
      request = {0x18, static_cast<uint8_t>(0x40 + random() % 2), 0x02, static_cast<uint8_t>(random()),
                 static_cast<uint8_t>(static_cast<uint8_t>(random()) & 0xCF)};
    } else {
      uint8_t command = firmwareCommands[random() % sizeof firmwareCommands];
      uint32_t address = static_cast<uint32_t>(random() % 0x80000);
      wire::Bytes data(1 + random() % 28);
      for (uint8_t& b : data) b = static_cast<uint8_t>(random() | random());
      if (command == 0x04 || command == 0x06 || command == 0x00) {
        request = {0x20, command, static_cast<uint8_t>(random() % 5)};
      } else {
        request = WithAddress(command, address,
                              command == 0x02   ? data
                              : command == 0x03 ? wire::Bytes{28}
                                                : wire::Bytes{});
      }
    }
    bmc.clock.Advance(random() % 3);
    std::vector<std::string> before = SerializeSections(bmc.state);
    ExchangeResult result = bmc.Run(request);
    ASSERT_EQ(result.outcome, ExchangeOutcome::kResponse);
    ASSERT_GE(result.response.size(), 3u);
    std::vector<std::string> after = SerializeSections(bmc.state);
    std::string payload;
    for (size_t s = 0; s < after.size(); ++s) {
      if (after[s] != before[s]) payload += after[s];
    }
    payload += FlashChangeSections(bmc.state, result.flashChanges);
    std::string error;
    ASSERT_TRUE(ApplyStatePayload(payload, &replayed, &error)) << error;
    if (i % 500 == 0 || i == 3999) {
      ASSERT_EQ(SerializeState(replayed), SerializeState(bmc.state)) << "after " << i;
    }
  }
  EXPECT_GT(bmc.state.firmware.activity[0].writes + bmc.state.firmware.activity[1].writes, 100u);
  EXPECT_GT(bmc.state.firmware.banks[0].blocks().size() + bmc.state.firmware.banks[1].blocks().size(), 0u);
}

}  // namespace
}  // namespace bmcsim
