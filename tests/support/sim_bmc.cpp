#include "tests/support/sim_bmc.h"

#include <gtest/gtest.h>

#include "bmcsim/faults/fault_rules.h"
#include "bmcsim/model/bmc_state.h"
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
  bmcsim::BmcDirectory bmc(dir_);
  std::string error;
  ASSERT_TRUE(bmc.Initialize(bmcsim::FreshState(identity, settings, platform::SystemClock()), &error))
      << error;
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
