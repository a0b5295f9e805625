// The sim flavour's driver: the simulated BMC behind the vendor driver's interface.
#include "transport/sim/sim_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "bmcsim/store/bmc_directory.h"
#include "platform/files.h"
#include "platform/testing/virtual_clock.h"
#include "tests/bmcsim/model_bench.h"
#include "tests/support/ipmi_request.h"
#include "tests/support/sim_bmc.h"
#include "tests/support/temp_dir.h"

namespace bmcsim {
namespace {

using testsupport::TempDir;

class SimulatedDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(BmcDirectory(path).Initialize(FreshState({}, {}, clock), &error)) << error;
  }
  void Change(const BmcDirectory::Change& change) {
    std::string error;
    ASSERT_TRUE(BmcDirectory(path).Modify(change, &error)) << error;
  }

  TempDir temp;
  std::string path = temp.File("bmc");
  platform::VirtualClock clock;
};

TEST(SimulatedDriver, MissingOrEmptyDirectoryIsLikeAMachineWithoutTheDevice) {
  TempDir temp;
  platform::VirtualClock clock;
  for (const std::string& dir : {temp.File("absent"), temp.path()}) {
    auto driver = transport::MakeSimulatedDriver(dir, clock);
    transport::IpmiResponse response;
    response.length = 99;
    EXPECT_EQ(driver->Exchange(testsupport::RequestOf({0x18, 0x01}), &response),
              transport::kDriverUnreachable);
    EXPECT_EQ(response.length, 99);
  }
  EXPECT_FALSE(platform::FileReadable(temp.File("bmcsim.lock")));  // nothing left behind
}

TEST_F(SimulatedDriverTest, AnswersAreCutWhereTheVendorDriversAre) {
  const SdrRecord record = WithId(MakeRecord(200), 1);
  Change([&](BmcState& state, std::string* error) {
    state.active.records = {record};
    state.faults.emplace_back();
    return ParseFaultRule("netfn=0x3e cmd=0xe0 count=always length=255", &state.faults.back(), error);
  });
  wire::Bytes deviceId;
  ASSERT_TRUE(wire::ParseHexBytes("1C 01 00 20 01 01 00 02 BF 2D 9B 4E 01 00 00 00 00 00", &deviceId));
  wire::Bytes wholeRecord{0x2C, 0x23, 0x00, 0xFF, 0xFF};
  wholeRecord.insert(wholeRecord.end(), record.begin(), record.end());
  wire::Bytes padded{0xFC, 0xE0, 0x00};
  padded.resize(255, 0x00);

  struct Case {
    const char* what;
    wire::Bytes request;
    const wire::Bytes& answer;  // the BMC's whole answer
    size_t length;              // what the caller receives
  } cases[] = {
      {"short answer", {0x18, 0x01}, deviceId, 18},
      {"answer of exactly 127 bytes", {0x28, 0x23, 0, 0, 0, 0, 0, 122}, wholeRecord, 127},
      {"128-byte answer", {0x28, 0x23, 0, 0, 0, 0, 0, 123}, wholeRecord, 127},
      {"210-byte record read", {0x28, 0x23, 0, 0, 0, 0, 0, 0xFF}, wholeRecord, 127},
      {"answer padded to 255 by a fault", {0xF8, 0xE0}, padded, 127},
  };
  auto driver = transport::MakeSimulatedDriver(path, clock);
  for (const Case& c : cases) {
    transport::IpmiResponse response;
    std::fill(std::begin(response.bytes), std::end(response.bytes), 0xEE);
    ASSERT_EQ(driver->Exchange(testsupport::RequestOf(c.request), &response), transport::kExchangeOk)
        << c.what;
    EXPECT_EQ(response.length, c.length) << c.what;
    ASSERT_LE(response.length, c.answer.size()) << c.what;
    EXPECT_TRUE(std::equal(response.bytes, response.bytes + response.length, c.answer.begin())) << c.what;
    EXPECT_EQ(response.bytes[response.length], 0xEE) << c.what << ": written past the answer";
  }
}

TEST_F(SimulatedDriverTest, ReportsALostAnswer) {
  Change([](BmcState& state, std::string* e) {
    state.faults.emplace_back();
    return ParseFaultRule("netfn=0x3e cmd=0x10 status=10", &state.faults.back(), e);
  });
  auto driver = transport::MakeSimulatedDriver(path, clock);
  transport::IpmiResponse response;
  response.length = 99;
  EXPECT_EQ(driver->Exchange(testsupport::RequestOf({0xF8, 0x10, 0x00}), &response),
            transport::kTransferFailed);
  EXPECT_EQ(response.length, 0);
  BmcState state;
  std::string error;
  ASSERT_TRUE(BmcDirectory(path).Read(&state, &error)) << error;
  EXPECT_TRUE(state.spared.lockHeld);  // carried out all the same
}

TEST(SimulatedDriver, CarriesAFirmwareUpdateOfTheStandbyBankAsTheFirmwareToolSendsIt) {
  TempDir temp;
  platform::VirtualClock clock;
  testsupport::SimBmc bmc(temp.File("bmc"));
  testsupport::SimIdentity identity;
  identity.deviceId = 0x38;
  testsupport::SimFirmware firmware;
  firmware.bankSize = 0x40000;
  firmware.eraseMs = 120;
  bmc.Init(identity, firmware);
  auto driver = transport::MakeSimulatedDriver(bmc.dir(), clock);
  auto send = [&](const wire::Bytes& request) {
    transport::IpmiResponse response;
    EXPECT_EQ(driver->Exchange(testsupport::RequestOf(request), &response), transport::kExchangeOk);
    return testsupport::BytesOf(response);
  };
  auto flash = [](uint8_t command, uint32_t address, const wire::Bytes& rest) {
    wire::ByteWriter out;
    out.U8(0x20).U8(command).U32(address).Append(rest);
    return out.Take();
  };

  ASSERT_EQ(wire::HexSpaced(send({0x18, 0x40, 0x02, 0x80, 0x04})), "1C 40 00");  // channel 2 off
  ASSERT_EQ(wire::HexSpaced(send({0x20, 0x06, 0xFF})), "24 06 00");              // the standby bank
  ASSERT_EQ(wire::HexSpaced(send({0x20, 0x07})), "24 07 00 02 01 00 00 04 00");
  const uint32_t start = 0x40000;
  int busyPolls = 0;
  for (uint32_t sector = 0x10000; sector < 0x40000; sector += 0x10000) {
    ASSERT_EQ(send(flash(0x01, start + sector, {}))[2], 0x00);
    while (send({0x20, 0x00, 0x01})[2] == 0xC0) {
      ++busyPolls;
      clock.Advance(50);
    }
  }
  // The image above the boot area, which an update without the boot block leaves alone.
  wire::Bytes image(0x5000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + i / 256);
  for (uint32_t offset = 0; offset < image.size(); offset += 28) {
    size_t end = std::min<size_t>(offset + 28, image.size());
    wire::Bytes chunk(image.begin() + offset, image.begin() + static_cast<long>(end));
    ASSERT_EQ(send(flash(0x02, start + 0x10000 + offset, chunk))[2], 0x00);
  }
  ASSERT_EQ(wire::HexSpaced(send({0x20, 0x04, 0x04})), "24 04 00");              // boot it next
  ASSERT_EQ(wire::HexSpaced(send({0x18, 0x40, 0x02, 0xA2, 0x04})), "1C 40 00");  // channel 2 back
  bmc.Reset(std::make_pair(uint8_t{0x02}, uint8_t{0x10}));

  EXPECT_EQ(busyPolls, 9);  // three erases of 120 ms, polled every 50 ms
  std::vector<uint8_t> bank2 = bmc.FlashBytes(2, 0x15000);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), bank2.begin() + 0x10000));
  EXPECT_EQ(std::count(bank2.begin(), bank2.begin() + 0x10000, 0xFF), 0x10000);
  EXPECT_EQ(bmc.BankCounts(2).erases, 3u);
  EXPECT_EQ(bmc.BankCounts(2).writes, (0x5000u + 27) / 28);
  EXPECT_EQ(bmc.BankCounts(1).erases + bmc.BankCounts(1).writes, 0u);
  testsupport::SimSelectors selectors = bmc.Selectors();
  EXPECT_EQ(selectors.runningBank, 2);
  EXPECT_EQ(selectors.imageSelector, 2);
  EXPECT_EQ(selectors.downloaderBank, 1);
  EXPECT_TRUE(bmc.Channel2() == (testsupport::SimChannelAccess{0x22, 0x04}));
  EXPECT_TRUE(bmc.Channel2(true) == (testsupport::SimChannelAccess{0x22, 0x04}));
  EXPECT_EQ(wire::HexSpaced(send({0x18, 0x01})).substr(0, 20), "1C 01 00 38 01 02 10");
  // A preloaded bank reads back as loaded.
  bmc.LoadFlash(1, {0x01, 0x02, 0x03});
  EXPECT_EQ(bmc.FlashBytes(1, 4), (std::vector<uint8_t>{0x01, 0x02, 0x03, 0xFF}));
}

}  // namespace
}  // namespace bmcsim
