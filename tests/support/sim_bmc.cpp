#include "tests/support/sim_bmc.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "bmcsim/faults/fault_rules.h"
#include "bmcsim/model/bmc_state.h"
#include "bmcsim/model/flash_layout.h"
#include "bmcsim/model/sdr_records.h"
#include "bmcsim/store/bmc_directory.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace testsupport {

namespace {

bmcsim::BmcState ReadState(const std::string& dir) {
  bmcsim::BmcDirectory bmc(dir);
  bmcsim::BmcState state;
  std::string error;
  EXPECT_TRUE(bmc.Read(&state, &error)) << error;
  return state;
}

void Change(const std::string& dir, const bmcsim::BmcDirectory::Change& change) {
  bmcsim::BmcDirectory bmc(dir);
  std::string error;
  EXPECT_TRUE(bmc.Modify(change, &error)) << error;
}

}  // namespace

void SimBmc::Init(const SimIdentity& id) {
  Init(id, SimFirmware{});
}

void SimBmc::Init(const SimIdentity& id, const SimFirmware& firmware) {
  bmcsim::DeviceIdentity identity;
  identity.deviceId = id.deviceId;
  identity.deviceRevision = id.deviceRevision;
  identity.firmwareRevision1 = id.firmware1;
  identity.firmwareRevision2 = id.firmware2;
  identity.ipmiVersion = id.ipmiVersion;
  identity.manufacturerId = id.manufacturer;
  identity.productId = id.productId;
  identity.auxPresent = id.auxRevision;
  bmcsim::BmcSettings settings;
  settings.capacity = capacity_;
  bmcsim::BmcState state = bmcsim::FreshState(identity, settings, platform::SystemClock());
  bmcsim::FirmwareState& f = state.firmware;
  f.chip.index = firmware.flashChip;
  f.chip.sizeCode = firmware.chipSizeCode;
  f.chip.sectorCode = firmware.chipSectorCode;
  f.runningBank = f.imageSelector = firmware.runningBank;
  f.bankSize = firmware.bankSize;
  f.eraseMs = firmware.eraseMs;
  f.downloaderBank = bmcsim::StandbyBank(state);
  state.channel2.active = {firmware.channel2Volatile.access, firmware.channel2Volatile.privilege};
  state.channel2.nonVolatile = {firmware.channel2NonVolatile.access, firmware.channel2NonVolatile.privilege};
  ASSERT_LE(firmware.runningBank, bmcsim::BankCount(state)) << "bank 2 needs a dual-bank device ID";
  for (int bank = 0; bank < 2; ++bank) {
    ASSERT_LE(firmware.flash[bank].size(), bank < bmcsim::BankCount(state) ? f.bankSize : 0u);
    f.banks[bank].Store(0, firmware.flash[bank].data(), firmware.flash[bank].size());
  }
  bmcsim::BmcDirectory bmc(dir_);
  std::string error;
  ASSERT_TRUE(bmc.Initialize(state, &error)) << error;
}

void SimBmc::LoadRecords(const std::vector<uint8_t>& raw) {
  std::vector<bmcsim::SdrRecord> records;
  std::string error;
  ASSERT_TRUE(bmcsim::SplitRecords(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()),
                                   &records, &error))
      << error;
  Change(dir_, [&](bmcsim::BmcState& state, std::string*) {
    state.active.records = records;
    state.active.eraseStamp = bmcsim::NextStamp(state, platform::SystemClock());
    state.active.additionStamp = bmcsim::NextStamp(state, platform::SystemClock());
    state.active.reservation = 0;
    return true;
  });
}

void SimBmc::LoadRecords(const std::vector<Record>& records) {
  LoadRecords(JoinRecords(records));
}

std::vector<Record> SimBmc::Records(bool spared) const {
  bmcsim::BmcState state = ReadState(dir_);
  return spared ? state.spared.repository.records : state.active.records;
}

void SimBmc::AddFault(const std::string& text) {
  bmcsim::FaultRule rule;
  std::string error;
  ASSERT_TRUE(bmcsim::ParseFaultRule(text, &rule, &error)) << text << ": " << error;
  Change(dir_, [&](bmcsim::BmcState& state, std::string*) {
    state.faults.push_back(rule);
    return true;
  });
}

void SimBmc::ClearFaults() {
  Change(dir_, [](bmcsim::BmcState& state, std::string*) {
    state.faults.clear();
    return true;
  });
}

void SimBmc::SetLatency(uint32_t ms) {
  Change(dir_, [ms](bmcsim::BmcState& state, std::string*) {
    state.settings.latencyMs = ms;
    return true;
  });
}

void SimBmc::SetErasePolls(uint32_t polls) {
  Change(dir_, [polls](bmcsim::BmcState& state, std::string*) {
    state.settings.erasePolls = polls;
    return true;
  });
}

void SimBmc::SetMicrosoftDriver(bool present) {
  Change(dir_, [present](bmcsim::BmcState& state, std::string*) {
    state.microsoftDriver = present;
    return true;
  });
}

std::vector<std::string> SimBmc::LogLines() const {
  bmcsim::BmcDirectory bmc(dir_);
  std::string text, error;
  EXPECT_TRUE(bmc.ReadLog(&text, false, &error)) << error;
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

void SimBmc::ClearLog() {
  bmcsim::BmcDirectory bmc(dir_);
  std::string text, error;
  EXPECT_TRUE(bmc.ReadLog(&text, true, &error)) << error;
}

uint32_t SimBmc::AdditionTimestamp() const {
  return ReadState(dir_).active.additionStamp;
}
uint32_t SimBmc::EraseTimestamp() const {
  return ReadState(dir_).active.eraseStamp;
}
bool SimBmc::LockHeld() const {
  return ReadState(dir_).spared.lockHeld;
}

std::vector<uint8_t> SimBmc::FlashBytes(uint8_t bank, size_t length) const {
  bmcsim::BmcState state = ReadState(dir_);
  EXPECT_TRUE(bank >= 1 && bank <= bmcsim::BankCount(state)) << "no bank " << int(bank);
  if (bank < 1 || bank > 2) return {};
  size_t size = length ? length : state.firmware.bankSize;
  return state.firmware.banks[bank - 1].Read(0, size);
}

void SimBmc::LoadFlash(uint8_t bank, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(bank == 1 || bank == 2);
  Change(dir_, [&](bmcsim::BmcState& state, std::string* error) {
    if (bytes.size() > state.firmware.bankSize) {
      *error = "more bytes than the bank holds";
      return false;
    }
    state.firmware.banks[bank - 1].EraseAll();
    state.firmware.banks[bank - 1].Store(0, bytes.data(), bytes.size());
    return true;
  });
}

SimBankCounts SimBmc::BankCounts(uint8_t bank) const {
  if (bank < 1 || bank > 2) return {};
  const bmcsim::BankActivity& activity = ReadState(dir_).firmware.activity[bank - 1];
  return SimBankCounts{activity.erases, activity.writes};
}

SimSelectors SimBmc::Selectors() const {
  const bmcsim::FirmwareState firmware = ReadState(dir_).firmware;
  return SimSelectors{firmware.runningBank, firmware.downloaderBank, firmware.imageSelector};
}

SimChannelAccess SimBmc::Channel2(bool nonVolatile) const {
  bmcsim::BmcState state = ReadState(dir_);
  const bmcsim::ChannelAccess& setting = nonVolatile ? state.channel2.nonVolatile : state.channel2.active;
  return SimChannelAccess{setting.access, setting.privilege};
}

SimFirmwareView SimBmc::FirmwareView(size_t bank1Length, size_t bank2Length) const {
  const bmcsim::BmcState state = ReadState(dir_);
  const bmcsim::FirmwareState& f = state.firmware;
  SimFirmwareView view;
  const size_t lengths[2] = {bank1Length, bank2Length};
  for (int bank = 0; bank < bmcsim::BankCount(state); ++bank) {
    view.flash[bank] = f.banks[bank].Read(0, std::min<size_t>(lengths[bank], f.bankSize));
    view.usedEnd[bank] = f.banks[bank].UsedEnd();
  }
  view.selectors = SimSelectors{f.runningBank, f.downloaderBank, f.imageSelector};
  view.channel2Volatile = {state.channel2.active.access, state.channel2.active.privilege};
  view.channel2NonVolatile = {state.channel2.nonVolatile.access, state.channel2.nonVolatile.privilege};
  return view;
}

void SimBmc::SetEraseMs(uint32_t ms) {
  Change(dir_, [ms](bmcsim::BmcState& state, std::string*) {
    state.firmware.eraseMs = ms;
    return true;
  });
}

void SimBmc::Reset(std::optional<std::pair<uint8_t, uint8_t>> firmwareRevision) {
  Change(dir_, [&](bmcsim::BmcState& state, std::string*) {
    bmcsim::ResetBmc(state);
    if (firmwareRevision) {
      state.identity.firmwareRevision1 = firmwareRevision->first;
      state.identity.firmwareRevision2 = firmwareRevision->second;
    }
    return true;
  });
}

std::vector<Record> SplitRecords(const std::vector<uint8_t>& raw) {
  std::vector<Record> records;
  size_t pos = 0;
  while (pos + 5 <= raw.size()) {
    size_t total = 5u + raw[pos + 4];
    if (pos + total > raw.size()) break;
    records.emplace_back(raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + total));
    pos += total;
  }
  EXPECT_EQ(pos, raw.size()) << "record file ends inside a record";
  return records;
}

std::vector<uint8_t> JoinRecords(const std::vector<Record>& records) {
  std::vector<uint8_t> raw;
  for (const Record& r : records) raw.insert(raw.end(), r.begin(), r.end());
  return raw;
}

std::vector<uint8_t> RealSdr(const std::string& name) {
  std::string content;
  EXPECT_TRUE(platform::ReadWholeFile(platform::JoinPath(BMC_REAL_SDR_DIR, name), &content)) << name;
  return std::vector<uint8_t>(content.begin(), content.end());
}

}  // namespace testsupport
