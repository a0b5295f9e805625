#include "sdrtool/repository/repository_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ipmi/device_commands.h"
#include "ipmi/sdr_repository_commands.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/testing/memory_console.h"
#include "platform/testing/virtual_clock.h"
#include "sdrtool/repository/with_reservation.h"
#include "sdrtool/sdr_run.h"
#include "tests/sdrtool/sdr_error_printing.h"
#include "tests/support/temp_dir.h"
#include "transport/ipmi_driver.h"

namespace veltrop {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::ElementsAre;

// Answers requests with prepared whole responses, in order, and keeps the requests.
class QueuedDriver : public transport::IpmiDriver {
 public:
  std::deque<Bytes> answers;
  std::vector<Bytes> requests;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    requests.emplace_back(request.bytes, request.bytes + request.length);
    if (answers.empty()) return transport::kDriverUnreachable;
    Bytes a = answers.front();
    answers.pop_front();
    const size_t n = a.size() < sizeof response->bytes ? a.size() : sizeof response->bytes;
    std::memcpy(response->bytes, a.data(), n);
    response->length = static_cast<uint8_t>(n);
    return transport::kExchangeOk;
  }
};

Bytes Reserved(uint16_t id) {
  return {0x2C, 0x22, 0x00, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
}

// A Get SDR answer: next record ID and the record bytes of the request.
Bytes SdrPart(uint16_t next, const Bytes& data) {
  // Built by appending: g++ 12 at -O2 warns falsely on insert after a list-initialised vector.
  Bytes r;
  for (uint8_t b : {uint8_t{0x2C}, uint8_t{0x23}, uint8_t{0x00}, static_cast<uint8_t>(next),
                    static_cast<uint8_t>(next >> 8)})
    r.push_back(b);
  for (uint8_t b : data) r.push_back(b);
  return r;
}

Bytes Completion(uint8_t netFnByte, uint8_t cmd, uint8_t code) {
  return {netFnByte, cmd, code};
}

class RepositoryCommands : public ::testing::Test {
 protected:
  RepositoryCommands() {
    env.clock = &clock;
    env.console = &console;
    env.vendorDriver = &bmc;
    env.lockName = "veltrop.exe-test-" + std::to_string(platform::CurrentProcessId());
    env.lockDir = dir.path();
  }

  SdrRun& Start(SdrMode mode = ModeUpdate) {
    run = std::make_unique<SdrRun>(env);
    run->settings.mode = mode;
    run->ApplySettings();
    check = CommandCheck();
    return *run;
  }
  const char* LogFileName() const { return run->settings.mode == ModeVersion ? kVersionLog : kMainLog; }

  // Log lines without their time stamps.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    const std::string text = testsupport::ReadFileOrEmpty(dir.File(LogFileName()));
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();  // text-mode line ends
      lines.push_back(line.size() >= 21 ? line.substr(21) : line);
      pos = end + 1;
    }
    return lines;
  }

  std::vector<std::string> Errors() const {
    std::vector<std::string> errors;
    for (const auto& line : Log()) {
      if (line.rfind("Error, ", 0) == 0) errors.push_back(line);
    }
    return errors;
  }

  testsupport::TempDir dir;
  testsupport::ScopedCurrentDir cwd{dir.path()};
  platform::VirtualClock clock;
  platform::MemoryConsole console;
  QueuedDriver bmc;
  runcontrol::RunEnvironment env;
  std::unique_ptr<SdrRun> run;
  CommandCheck check;
};

// A stand-alone command's answer that its check refuses names the reason in error 30's detail;
// a failure the sender reports leaves the detail without one.
TEST_F(RepositoryCommands, StandAloneChecksNameWhyAnAnswerWasRefused) {
  const Bytes deviceId18 = {0x1C, 0x01, 0x00, 0x20, 0x01, 0x02, 0x30, 0x51, 0xDF,
                            0xA2, 0x02, 0x00, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44};
  const Bytes info = {0x2C, 0x20, 0x00, 0x51, 0x30, 0x00, 0x00, 0x10, 1, 2, 3, 4, 5, 6, 7, 8, 0x0F};
  auto deviceId = [](SdrRun& r, CommandCheck* c) {
    return SendChecked(r.commands, ipmi::GetDeviceId(), c).ok();
  };
  auto repositoryInfo = [](SdrRun& r, CommandCheck* c) {
    return SendChecked(r.commands, ipmi::GetSdrRepositoryInfo(), c).ok();
  };
  struct Case {
    const char* name;
    std::function<bool(SdrRun&, CommandCheck*)> send;
    const char* commandName;
    Bytes answer;
    bool ok;
    const char* detail;  // error 30's, when refused
    const char* senderError;
  };
  const Case cases[] = {
      {"Get Device ID, short form", deviceId, "Get Device ID",
       Bytes(deviceId18.begin(), deviceId18.begin() + 14), true, nullptr, nullptr},
      {"Get Device ID, long form", deviceId, "Get Device ID", deviceId18, true, nullptr, nullptr},
      {"Get Device ID between its forms", deviceId, "Get Device ID",
       Bytes(deviceId18.begin(), deviceId18.begin() + 15), false,
       "Command: Get Device ID illegal Size : 0F h", nullptr},
      {"repository info", repositoryInfo, "Get SDR Repository Info", info, true, nullptr, nullptr},
      {"another network function",
       repositoryInfo,
       "Get SDR Repository Info",
       {0x2D, 0x20, 0x00, 0x51, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       false,
       "Command: Get SDR Repository Info illegal NetFn : 2D h",
       nullptr},
      {"another command",
       repositoryInfo,
       "Get SDR Repository Info",
       {0x2C, 0x22, 0x00, 0x01, 0x02},
       false,
       "Command: Get SDR Repository Info illegal NetFn : 2C h",
       nullptr},
      {"cut short",
       repositoryInfo,
       "Get SDR Repository Info",
       {0x2C, 0x20, 0x00, 0x51},
       false,
       "Command: Get SDR Repository Info illegal Size : 04 h",
       nullptr},
      {"refused",
       repositoryInfo,
       "Get SDR Repository Info",
       {0x2C, 0x20, 0xC1},
       false,
       "Command: Get SDR Repository Info",
       "Error, failed to receive BMC response, bad completion code code = C1"},
      {"Reserve",
       [](SdrRun& r, CommandCheck* c) {
         return SendChecked(r.commands, ipmi::ReserveRepository(ipmi::Repository::kActive), c).value ==
                0xBEEF;
       },
       "Reserve", Reserved(0xBEEF), true, nullptr, nullptr},
      // Not every BMC knows the OEM query: its refusal is no error.
      {"OEM query refused",
       [](SdrRun& r, CommandCheck* c) {
         SendOptions quiet;
         quiet.quietCompletion = true;
         return SendChecked(r.commands, ipmi::OemE0Info(), c, quiet).ok();
       },
       "OEM", Completion(0xFC, 0xE0, 0xC1), false, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(ModeBackup);
    std::remove(LogFileName());
    bmc.answers = {c.answer};
    EXPECT_EQ(c.send(*run, &check), c.ok);
    if (c.detail) {
      EXPECT_EQ(ReportCommandError(*run, c.commandName, check), SdrError::kBackupCommandError);
      std::vector<std::string> expected;
      if (c.senderError) expected.push_back(c.senderError);
      expected.push_back(std::string("Error, IPMI comand error for Backup/GetSdrVersion ") + c.detail);
      EXPECT_EQ(Errors(), expected);
    } else {
      EXPECT_TRUE(Errors().empty());
    }
  }
}

// A record of 25 bytes: header, then chunks of 16 and 4.
Bytes Record25() {
  Bytes record = {0x07, 0x00, 0x51, 0x01, 20};
  for (uint8_t i = 0; i < 20; ++i) record.push_back(static_cast<uint8_t>(0xA0 + i));
  return record;
}

Bytes Slice(const Bytes& b, size_t from, size_t count) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + count));
}

TEST_F(RepositoryCommands, GetSdrRecordReadsHeaderThenChunks) {
  Start();
  const Bytes record = Record25();
  bmc.answers = {Reserved(0x0102), SdrPart(0x0008, Slice(record, 0, 5)),
                 SdrPart(0x0008, Slice(record, 5, 16)), SdrPart(0x0008, Slice(record, 21, 4))};
  uint16_t id = 0x0007;
  Bytes read;
  ASSERT_TRUE(GetSdrRecord(*run, &id, &read, &check));
  EXPECT_EQ(read, record);
  EXPECT_EQ(id, 0x0008);
  EXPECT_THAT(bmc.requests, ElementsAre(Bytes{0x28, 0x22}, Bytes{0x28, 0x23, 0x02, 0x01, 0x07, 0x00, 0, 5},
                                        Bytes{0x28, 0x23, 0x02, 0x01, 0x07, 0x00, 5, 16},
                                        Bytes{0x28, 0x23, 0x02, 0x01, 0x07, 0x00, 21, 4}));
}

TEST_F(RepositoryCommands, LostReservationRestartsTheRecordWithANewOne) {
  Start();
  const Bytes record = Record25();
  bmc.answers = {Reserved(1),
                 SdrPart(0xFFFF, Slice(record, 0, 5)),
                 Completion(0x2C, 0x23, 0xC5),
                 Reserved(2),
                 SdrPart(0xFFFF, Slice(record, 0, 5)),
                 SdrPart(0xFFFF, Slice(record, 5, 16)),
                 SdrPart(0xFFFF, Slice(record, 21, 4))};
  uint16_t id = 0;
  Bytes read;
  ASSERT_TRUE(GetSdrRecord(*run, &id, &read, &check));
  EXPECT_EQ(read, record);
  EXPECT_EQ(id, 0xFFFF);
  ASSERT_EQ(bmc.requests.size(), 7u);
  EXPECT_EQ(bmc.requests[3], (Bytes{0x28, 0x22}));
  EXPECT_EQ(bmc.requests[4], (Bytes{0x28, 0x23, 0x02, 0x00, 0x00, 0x00, 0, 5}));  // new reservation, offset 0
  EXPECT_TRUE(Errors().empty());
}

TEST_F(RepositoryCommands, VersionQueryNeverReReserves) {
  Start(ModeVersion);
  bmc.answers = {Reserved(1), Completion(0x2C, 0x23, 0xC5)};
  uint16_t id = 0;
  Bytes read;
  EXPECT_FALSE(GetSdrRecord(*run, &id, &read, &check));
  EXPECT_EQ(check.kind, CommandCheck::kCompletion);
  EXPECT_EQ(check.value, 0xC5);
  EXPECT_EQ(bmc.requests.size(), 2u);
}

TEST_F(RepositoryCommands, ReservationBudgetEndsAfter300Losses) {
  Start();
  bmc.answers.push_back(Reserved(1));
  for (int i = 0; i < kReservationRetryLimit; ++i) {
    bmc.answers.push_back(Completion(0x2C, 0x23, 0xC5));
    bmc.answers.push_back(Reserved(static_cast<uint16_t>(i + 2)));
  }
  bmc.answers.push_back(Completion(0x2C, 0x23, 0xC5));
  uint16_t id = 0;
  Bytes read;
  EXPECT_FALSE(GetSdrRecord(*run, &id, &read, &check));
  EXPECT_EQ(check.kind, CommandCheck::kCompletion);
  EXPECT_EQ(check.value, 0xC5);
  EXPECT_TRUE(bmc.answers.empty());
  EXPECT_EQ(bmc.requests.size(), 2u * kReservationRetryLimit + 2);
}

TEST_F(RepositoryCommands, GetSdrRecordChecksEveryPart) {
  const Bytes record = Record25();
  struct Case {
    const char* name;
    std::deque<Bytes> answers;
    uint8_t kind;
    uint8_t value;
  };
  const Case cases[] = {
      {"wrong network function",
       {Reserved(1), {0x1C, 0x23, 0x00, 0xFF, 0xFF, 1, 2, 3, 4, 5}},
       CommandCheck::kNetFn,
       0x1C},
      {"other completion code", {Reserved(1), Completion(0x2C, 0x23, 0xCB)}, CommandCheck::kCompletion, 0xCB},
      {"short header", {Reserved(1), SdrPart(0xFFFF, Slice(record, 0, 4))}, CommandCheck::kLength, 9},
      {"short chunk",
       {Reserved(1), SdrPart(0xFFFF, Slice(record, 0, 5)), SdrPart(0xFFFF, Slice(record, 5, 15))},
       CommandCheck::kLength,
       20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    bmc.answers = c.answers;
    uint16_t id = 0;
    Bytes read;
    EXPECT_FALSE(GetSdrRecord(*run, &id, &read, &check));
    EXPECT_EQ(check.kind, c.kind);
    EXPECT_EQ(check.value, c.value);
    EXPECT_EQ(id, 0);
  }
}

TEST_F(RepositoryCommands, GetSdrRecordFailsOnTransportFailureWithoutCheck) {
  Start();
  bmc.answers = {Reserved(1)};  // then the driver cannot be reached
  uint16_t id = 0;
  Bytes read;
  EXPECT_FALSE(GetSdrRecord(*run, &id, &read, &check));
  EXPECT_EQ(check.kind, CommandCheck::kNone);
  EXPECT_THAT(Log(), ::testing::Contains("Error, failed to open IPMI Driver"));
}

}  // namespace
}  // namespace veltrop
