// The state directory's journal and snapshots: every process sees the same BMC, a save cut
// short loses only itself, and a large flash costs about what is written per exchange.
#include "bmcsim/store/state_store.h"

#include <gtest/gtest.h>

#include <random>

#include "bmcsim/store/bmc_directory.h"
#include "bmcsim/store/state_payload.h"
#include "platform/files.h"
#include "platform/testing/virtual_clock.h"
#include "tests/bmcsim/model_bench.h"
#include "tests/support/temp_dir.h"

namespace bmcsim {
namespace {

using testsupport::ReadFileOrEmpty;
using testsupport::TempDir;

constexpr uint64_t kJournalAlways = 1;  // every state counts as large

wire::Bytes FlashRequest(uint8_t command, uint32_t address, const wire::Bytes& rest = {}) {
  wire::ByteWriter out;
  out.U8(0x20).U8(command).U32(address).Append(rest);
  return out.Take();
}

class StateStoreTest : public ::testing::Test {
 protected:
  void Init(uint8_t deviceId, uint32_t bankSize) {
    DeviceIdentity identity;
    identity.deviceId = deviceId;
    BmcState state = FreshState(identity, {}, clock);
    state.firmware.bankSize = bankSize;
    std::string error;
    ASSERT_TRUE(BmcDirectory(path).Initialize(state, &error)) << error;
  }
  wire::Bytes Send(BmcDirectory& bmc, const wire::Bytes& request) {
    ExchangeResult r = bmc.Exchange(request.data(), request.size(), clock);
    EXPECT_EQ(r.outcome, ExchangeOutcome::kResponse);
    return r.response;
  }
  // The state as a process that starts now loads it.
  std::string FreshLoad() {
    BmcDirectory fresh(path);
    BmcState state;
    std::string error;
    EXPECT_TRUE(fresh.Read(&state, &error)) << error;
    return SerializeState(state);
  }
  std::string Journal() const { return platform::JoinPath(path, "state-journal.bin"); }

  TempDir temp;
  std::string path = temp.File("bmc");
  platform::VirtualClock clock;
};

TEST_F(StateStoreTest, ProcessesTakingTurnsSeeTheBmcAnInMemoryModelSees) {
  Init(0x38, 0x40000);
  ModelBench reference;
  std::string error;
  ASSERT_TRUE(BmcDirectory(path).Read(&reference.state, &error)) << error;
  // Two writers and a snapshot threshold low enough for both journal records and snapshots.
  BmcDirectory first(path, kJournalAlways);
  BmcDirectory second(path, kJournalAlways);
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    wire::Bytes request;
    switch (random() % 8) {
      case 0:
        request = FlashRequest(0x01, 0x40000 + static_cast<uint32_t>(random() % 0x40000));
        break;
      case 1:
        request = {0x18, 0x40, 0x02, static_cast<uint8_t>(0x80 | random() % 4), 0x04};
        break;
      case 2:
        request = {0x28, 0x22};  // a reservation: a section besides the flash changes
        break;
      case 3:
        request = FlashRequest(0x03, static_cast<uint32_t>(random() % 0x7FFF0), {16});
        break;
      default: {
        wire::Bytes data(1 + random() % 28);
        for (uint8_t& b : data) b = static_cast<uint8_t>(random() | random());
        request = FlashRequest(0x02, 0x40000 + static_cast<uint32_t>(random() % (0x40000 - 28)), data);
      }
    }
    BmcDirectory& writer = random() % 3 ? first : second;
    ASSERT_EQ(wire::HexSpaced(Send(writer, request)), wire::HexSpaced(reference.Send(request)))
        << "exchange " << i << ": " << wire::HexSpaced(request);
    if (i % 500 == 499) {
      ASSERT_TRUE(FreshLoad() == SerializeState(reference.state)) << "after " << i;
    }
  }
  for (BmcDirectory* writer : {&first, &second}) {
    EXPECT_GT(writer->storeStats().records, 100u);
    EXPECT_GT(writer->storeStats().snapshots, 0u);
  }
}

TEST_F(StateStoreTest, TornRecordEndsTheJournalAndWorkGoesOnFromTheStateBefore) {
  Init(0x30, 0x40000);
  BmcDirectory writer(path, kJournalAlways);
  ASSERT_EQ(Send(writer, FlashRequest(0x02, 0x100, {0x11, 0x22}))[2], 0x00);
  ASSERT_EQ(Send(writer, FlashRequest(0x02, 0x200, {0x33, 0x44}))[2], 0x00);
  // As if the writer had died while appending its last record.
  std::string journal = ReadFileOrEmpty(Journal());
  ASSERT_TRUE(platform::WriteFileAtomically(Journal(), journal.substr(0, journal.size() - 3)));

  BmcDirectory next(path, kJournalAlways);
  EXPECT_EQ(wire::HexSpaced(Send(next, FlashRequest(0x03, 0x100, {2}))), "24 03 00 11 22");
  EXPECT_EQ(wire::HexSpaced(Send(next, FlashRequest(0x03, 0x200, {2}))), "24 03 00 FF FF");
  // The writer notices that its state is gone, and the next save does not hide behind the
  // torn record.
  EXPECT_EQ(wire::HexSpaced(Send(writer, FlashRequest(0x03, 0x200, {2}))), "24 03 00 FF FF");
  ASSERT_EQ(Send(next, FlashRequest(0x02, 0x300, {0x55}))[2], 0x00);
  ASSERT_EQ(Send(writer, FlashRequest(0x02, 0x301, {0x66}))[2], 0x00);
  BmcDirectory reader(path);
  EXPECT_EQ(wire::HexSpaced(Send(reader, FlashRequest(0x03, 0x100, {2}))), "24 03 00 11 22");
  EXPECT_EQ(wire::HexSpaced(Send(reader, FlashRequest(0x03, 0x200, {2}))), "24 03 00 FF FF");
  EXPECT_EQ(wire::HexSpaced(Send(reader, FlashRequest(0x03, 0x300, {2}))), "24 03 00 55 66");
}

TEST_F(StateStoreTest, SnapshotWhoseJournalNeverStartedOverYieldsToWhatFollowedTheJournal) {
  Init(0x30, 0x40000);
  BmcDirectory follower(path, kJournalAlways);
  BmcDirectory snapshotter(path, kJournalAlways);
  ASSERT_EQ(Send(follower, FlashRequest(0x02, 0x100, {0x11}))[2], 0x00);
  ASSERT_EQ(Send(snapshotter, FlashRequest(0x03, 0x100, {1}))[2], 0x00);
  std::string journalBefore = ReadFileOrEmpty(Journal());
  std::string error;
  ASSERT_TRUE(snapshotter.Modify(
      [](BmcState& state, std::string*) {
        uint8_t byte = 0x22;
        state.firmware.banks[0].Store(0x200, &byte, 1);  // a flash change: a whole snapshot
        return true;
      },
      &error))
      << error;
  // As if the snapshot's writer had died before it could start the journal over.
  ASSERT_TRUE(platform::WriteFileAtomically(Journal(), journalBefore));
  {
    BmcDirectory reader(path);
    EXPECT_EQ(wire::HexSpaced(Send(reader, FlashRequest(0x03, 0x100, {1}))), "24 03 00 11");
    EXPECT_EQ(wire::HexSpaced(Send(reader, FlashRequest(0x03, 0x200, {1}))), "24 03 00 22");  // the newest
  }
  // The follower still sees the journal as it left it and goes on from there; from then on
  // its line is the BMC, for everybody.
  ASSERT_EQ(Send(follower, FlashRequest(0x02, 0x300, {0x33}))[2], 0x00);
  BmcDirectory reader(path);
  EXPECT_EQ(wire::HexSpaced(Send(reader, FlashRequest(0x03, 0x300, {1}))), "24 03 00 33");
  EXPECT_EQ(wire::HexSpaced(Send(reader, FlashRequest(0x03, 0x200, {1}))), "24 03 00 FF");
  EXPECT_EQ(wire::HexSpaced(Send(snapshotter, FlashRequest(0x03, 0x200, {2}))), "24 03 00 FF FF");
}

TEST_F(StateStoreTest, WholeBankOfSmallWritesSavesAboutWhatIsWritten) {
  const uint32_t kBankBytes = 0x20000;
  Init(0x30, kBankBytes);
  BmcDirectory writer(path);
  for (uint32_t address = 0; address < kBankBytes; address += 0x2000) {
    ASSERT_EQ(Send(writer, FlashRequest(0x01, address))[2], 0x00);
  }
  std::mt19937 random(3);
  wire::Bytes image(kBankBytes);
  for (uint8_t& b : image) b = static_cast<uint8_t>(random());
  for (uint32_t address = 0; address < kBankBytes; address += 28) {
    size_t n = std::min<size_t>(28, kBankBytes - address);
    wire::Bytes chunk(image.begin() + address, image.begin() + static_cast<long>(address + n));
    ASSERT_EQ(Send(writer, FlashRequest(0x02, address, chunk))[2], 0x00);
    // Saving the whole flash per write would pass this after a few hundred writes.
    const StoreStats& stats = writer.storeStats();
    uint64_t written = stats.snapshotBytes + stats.recordBytes;
    ASSERT_LE(written, 64 * 1024 + 12 * uint64_t{address}) << "at " << address;
  }
  const StoreStats& stats = writer.storeStats();
  EXPECT_EQ(stats.loads, 1u);  // a lone writer never reads the files again
  EXPECT_LT(stats.snapshots, 100u);
  BmcDirectory reader(path);
  BmcState state;
  std::string error;
  ASSERT_TRUE(reader.Read(&state, &error)) << error;
  EXPECT_TRUE(state.firmware.banks[0].Read(0, kBankBytes) == image);
  // Compact: the state holds the image about once, not a copy per write.
  EXPECT_LT(SerializeState(state).size(), kBankBytes + kBankBytes / 8);
}

}  // namespace
}  // namespace bmcsim
