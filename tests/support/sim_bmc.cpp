#include "tests/support/sim_bmc.h"

#include <gtest/gtest.h>

#include "platform/files.h"

namespace testsupport {

// The state operations are wired to the simulator library as soon as it lands.
void SimBmc::Init(const SimIdentity&) { ADD_FAILURE() << "simulated BMC not available yet"; }
void SimBmc::LoadRecords(const std::vector<uint8_t>&) { ADD_FAILURE() << "simulated BMC not available yet"; }
void SimBmc::LoadRecords(const std::vector<Record>& records) { LoadRecords(JoinRecords(records)); }
std::vector<Record> SimBmc::Records(bool) const { return {}; }
void SimBmc::AddFault(const std::string&) {}
void SimBmc::ClearFaults() {}
std::vector<std::string> SimBmc::LogLines() const { return {}; }
void SimBmc::ClearLog() {}
uint32_t SimBmc::AdditionTimestamp() const { return 0; }
uint32_t SimBmc::EraseTimestamp() const { return 0; }
bool SimBmc::LockHeld() const { return false; }

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
