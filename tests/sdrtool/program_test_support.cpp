#include "tests/sdrtool/program_test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "bmcsim/store/bmc_directory.h"
#include "tests/support/result_file.h"
#include "tests/support/temp_dir.h"

namespace veltrop {
namespace programtest {

Record MakeRecord(uint16_t id, uint8_t type, int bodyLength, uint8_t seed) {
  Record r = {static_cast<uint8_t>(id & 0xFF), static_cast<uint8_t>(id >> 8), 0x51, type,
              static_cast<uint8_t>(bodyLength)};
  for (int i = 0; i < bodyLength; ++i) r.push_back(static_cast<uint8_t>(seed * 7 + i * 13 + 1));
  return r;
}

std::vector<Record> MakeRecords(int count, uint8_t seed) {
  std::vector<Record> records;
  for (int i = 0; i < count; ++i) {
    records.push_back(MakeRecord(static_cast<uint16_t>(i + 1), i % 3 == 0 ? 0x02 : 0x01, 10 + (i * 7) % 50,
                                 static_cast<uint8_t>(seed + i)));
  }
  return records;
}

Record VersionRecord(const std::string& text) {
  // Built by appending: g++ 12 at -O2 warns falsely on insert after a list-initialised vector.
  Record r;
  for (uint8_t b : {0x00, 0x00, 0x51, 0xC0, 0x00, 0x2D, 0x9B, 0x4E}) r.push_back(b);
  r[4] = static_cast<uint8_t>(3 + text.size());
  for (char c : text) r.push_back(static_cast<uint8_t>(c));
  return r;
}

SdrRecordList ListOf(const std::vector<Record>& records) {
  SdrRecordList list;
  for (const Record& r : records) {
    SdrRecord record;
    std::memcpy(record.bytes, r.data(), r.size() < sizeof record.bytes ? r.size() : sizeof record.bytes);
    record.length = static_cast<int32_t>(r.size());
    list.push_back(record);
  }
  return list;
}

std::vector<Record> RecordsOf(const SdrRecordList& list) {
  std::vector<Record> records;
  for (const SdrRecord& r : list) records.emplace_back(r.bytes, r.bytes + 5 + r.bytes[4]);
  return records;
}

std::vector<Record> WithoutIds(std::vector<Record> records) {
  for (Record& r : records) r[0] = r[1] = 0;
  return records;
}

std::string SdrText(const std::vector<Record>& records) {
  std::string text =
      "_LF_NAME 'TEST.SDR'\n_LF_VERSION '1.00'\n_LF_FMT_VER '1.5'\n_SDR_VERSION '1.50'\n_SDR\n(\n"
      "_START_ADDR 0000\n_DATA_LEN 0000\n_NVS_TYPE 'IMBDEVICE'\n_DEV_BUS 00\n_DEV_ADDRESS 20\n";
  char item[8];
  for (const Record& r : records) {
    std::snprintf(item, sizeof item, "%02X", r[3]);
    text += std::string("_SDR_TYPE ") + item + "\n";
    std::snprintf(item, sizeof item, "%02X", static_cast<unsigned>(r.size()));
    text += std::string("_REC_LEN ") + item + "\n";
    for (size_t i = 0; i < r.size(); ++i) {
      std::snprintf(item, sizeof item, "%02X", r[i]);
      text += std::string(i % 16 == 0 ? "  " : " ") + item;
      if (i % 16 == 15 || i + 1 == r.size()) text += "\n";
    }
  }
  return text + ")\n";
}

namespace {

std::vector<uint8_t> HexBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

std::vector<Exchange> Exchanges(const testsupport::SimBmc& bmc) {
  std::vector<Exchange> all;
  for (const std::string& line : bmc.LogLines()) {
    size_t arrow = line.find("->");
    if (arrow == std::string::npos) continue;
    Exchange e;
    e.request = HexBytes(line.substr(0, arrow));
    std::string answer = line.substr(arrow + 2);
    if (answer.find("status") == std::string::npos) e.response = HexBytes(answer);
    all.push_back(e);
  }
  return all;
}

std::vector<Exchange> Only(const std::vector<Exchange>& all, uint8_t netFnByte, uint8_t command) {
  std::vector<Exchange> some;
  for (const Exchange& e : all) {
    if (e.request.size() >= 2 && e.request[0] == netFnByte && e.request[1] == command) some.push_back(e);
  }
  return some;
}

void SetErasePolls(const testsupport::SimBmc& bmc, uint32_t polls) {
  bmcsim::BmcDirectory dir(bmc.dir());
  std::string error;
  ASSERT_TRUE(dir.Modify(
      [polls](bmcsim::BmcState& state, std::string*) {
        state.settings.erasePolls = polls;
        return true;
      },
      &error))
      << error;
}

transport::ExchangeStatus ProgressWatcher::Exchange(const transport::IpmiRequest& request,
                                                    transport::IpmiResponse* response) {
  Look();
  return inner_->Exchange(request, response);
}

void ProgressWatcher::Look() {
  std::string content = testsupport::ReadFileOrEmpty(workFile_);
  if (content.empty() || content == lastContent_) return;
  lastContent_ = content;
  testsupport::ResultTree tree = testsupport::ReadResultFile(workFile_);
  if (tree.parsed) published.push_back(std::stoi(tree.data));
}

}  // namespace programtest
}  // namespace veltrop
