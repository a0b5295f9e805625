#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ipmi/device_commands.h"
#include "ipmi/firmware_commands.h"
#include "ipmi/sdr_repository_commands.h"
#include "ipmi/sender.h"
#include "tests/support/ipmi_request.h"

namespace ipmi {
namespace {

using wire::Bytes;

// What a decoder made of one answer.
struct Verdict {
  explicit Verdict(Failure f = Failure::kNone, Malformed m = Malformed::kNone, uint8_t code = 0,
                   std::string v = "")
      : failure(f), malformed(m), completionCode(code), value(std::move(v)) {}
  Failure failure;
  Malformed malformed;
  uint8_t completionCode;
  std::string value;  // the decoded value as text, for the exact answers
};

bool operator==(const Verdict& a, const Verdict& b) {
  return a.failure == b.failure && a.malformed == b.malformed && a.completionCode == b.completionCode &&
         (a.value.empty() || b.value.empty() || a.value == b.value);
}

std::ostream& operator<<(std::ostream& out, const Verdict& v) {
  return out << "failure " << static_cast<int>(v.failure) << " malformed " << static_cast<int>(v.malformed)
             << " cc " << static_cast<int>(v.completionCode) << " value '" << v.value << "'";
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  char two[4];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    text += two;
  }
  return text;
}

// One command under test: its request as sent, the data of a correct answer, how that answer
// reads, and whether it takes answers of other lengths.
struct Row {
  const char* name;
  Request request;
  std::function<Verdict(const Answer&)> decode;
  Bytes request_bytes;
  Bytes data;              // a correct answer's data
  std::string value;       // what it decodes to
  bool longerOk = false;   // a longer answer is still one of the command's
  bool shorterOk = false;  // and a shorter one
};

template <typename T>
Row MakeRow(const char* name, const Command<T>& command, Bytes requestBytes, Bytes data,
            std::function<std::string(const T&)> show, bool longerOk = false, bool shorterOk = false) {
  Row row{name, command.request, nullptr, std::move(requestBytes), std::move(data), "", longerOk, shorterOk};
  row.decode = [command, show](const Answer& answer) {
    const Outcome<T> out = command.Decode(answer);
    return Verdict(out.failure, out.malformed, out.completionCode, out.ok() ? show(out.value) : "");
  };
  return row;
}

Answer AnswerOf(const Request&, const Bytes& bytes, transport::ExchangeStatus status = transport::kExchangeOk,
                bool netFnAsRequested = false) {
  Answer answer;
  answer.status = status;
  answer.response.netFnAsRequested = netFnAsRequested;
  answer.response.length = static_cast<uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), answer.response.bytes);
  return answer;
}

// The answer in wire form: the response network function, the command, a completion code,
// the data.
Bytes Framed(const Request& request, uint8_t code, const Bytes& data) {
  Bytes bytes{static_cast<uint8_t>((static_cast<uint8_t>(request.netFn) << 2) + 4), request.command, code};
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

std::vector<Row> Rows() {
  const uint8_t chunk[3] = {0xA1, 0xA2, 0xA3};
  auto none = [](const Done&) { return std::string("done"); };
  return {
      MakeRow<DeviceId>("Get Device ID", GetDeviceId(), {0x18, 0x01},
                        {0x20, 0x01, 0x81, 0x23, 0x02, 0xBF, 0x80, 0x28, 0x00, 0x0A, 0x1B},
                        [](const DeviceId& id) {
                          return id.FirmwareVersion() + " " + id.HardwareId() +
                                 (id.hasAuxRevision ? " aux" : "");
                        }),
      MakeRow<DeviceId>(
          "Get Device ID with the auxiliary revision", GetDeviceId(), {0x18, 0x01},
          {0x20, 0x01, 0x02, 0x30, 0x51, 0xBF, 0xA2, 0x02, 0x00, 0x00, 0x01, 1, 2, 3, 4},
          [](const DeviceId& id) { return id.HardwareId() + (id.hasAuxRevision ? " aux" : ""); }),
      MakeRow<ChannelAccess>("Get Channel Access", GetChannelAccess(2, AccessSet::kVolatile),
                             {0x18, 0x41, 0x02, 0x80}, {0x22, 0x04},
                             [](const ChannelAccess& a) {
                               return Hex({a.access, a.privilege});
                             }),
      MakeRow<Done>("Set Channel Access", SetChannelAccess(2, 0x80, 0x04), {0x18, 0x40, 0x02, 0x80, 0x04}, {},
                    none),
      MakeRow<RepositoryInfo>("Get SDR Repository Info", GetSdrRepositoryInfo(), {0x28, 0x20},
                              {0x51, 0x2A, 0x00, 0xFE, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0x26},
                              [](const RepositoryInfo& i) {
                                return std::to_string(i.recordCount) + " " +
                                       std::to_string(i.additionTimestamp) + " " +
                                       std::to_string(i.eraseTimestamp);
                              }),
      MakeRow<uint16_t>("Reserve SDR Repository", ReserveRepository(Repository::kActive), {0x28, 0x22},
                        {0x34, 0x12}, [](const uint16_t& r) { return std::to_string(r); }),
      MakeRow<uint16_t>("spared Reserve", ReserveRepository(Repository::kSpared), {0xF8, 0x11}, {0x01, 0x00},
                        [](const uint16_t& r) { return std::to_string(r); }),
      MakeRow<RecordPart>(
          "Get SDR", GetSdr(Repository::kActive, 0x1234, 0x0005, 16, 3),
          {0x28, 0x23, 0x34, 0x12, 0x05, 0x00, 16, 3}, {0x06, 0x00, 0xA1, 0xA2, 0xA3},
          [](const RecordPart& p) { return std::to_string(p.nextRecordId) + " " + Hex(p.bytes); }),
      MakeRow<RecordPart>(
          "spared Get SDR", GetSdr(Repository::kSpared, 1, 0, 0, 5),
          {0xF8, 0x12, 0x01, 0x00, 0x00, 0x00, 0, 5}, {0xFF, 0xFF, 1, 0, 0x51, 1, 0x30},
          [](const RecordPart& p) { return std::to_string(p.nextRecordId) + " " + Hex(p.bytes); }),
      MakeRow<Done>("take the update lock", SparedUpdateLock(LockMode::kTake), {0xF8, 0x10, 0x00}, {}, none),
      MakeRow<Done>("release the update lock", SparedUpdateLock(LockMode::kReleaseCommitting),
                    {0xF8, 0x10, 0x02}, {}, none),
      MakeRow<uint16_t>("Partial Add, last chunk", SparedPartialAdd(1, 0x0007, 16, true, chunk, 3),
                        {0xF8, 0x13, 0x01, 0x00, 0x07, 0x00, 16, 0x01, 0xA1, 0xA2, 0xA3}, {0x07, 0x00},
                        [](const uint16_t& id) { return std::to_string(id); }),
      MakeRow<uint8_t>("Clear, start", SparedClear(1, EraseStep::kStart),
                       {0xF8, 0x14, 0x01, 0x00, 'C', 'L', 'R', 0xAA}, {0x00},
                       [](const uint8_t& s) { return std::to_string(s); }),
      MakeRow<uint8_t>("Clear, status", SparedClear(1, EraseStep::kStatus),
                       {0xF8, 0x14, 0x01, 0x00, 'C', 'L', 'R', 0x00}, {0x01},
                       [](const uint8_t& s) { return std::to_string(s); }),
      MakeRow<Bytes>("OEM E0h", OemE0Info(), {0xF8, 0xE0}, {0x11, 0x22, 0x33}, Hex),
      MakeRow<ChipId>(
          "FW ID Chip, the fitted chip", FwIdChip(4), {0x20, 0x00, 0x04}, {0x04, 0x03, 0x02},
          [](const ChipId& c) {
            return Hex({c.index, c.sizeCode, c.sectorCode});
          },
          false, true),
      MakeRow<ChipId>(
          "FW ID Chip, another chip", FwIdChip(1), {0x20, 0x00, 0x01}, {},
          [](const ChipId& c) { return c.echoed ? "echoed" : "none"; }, true),
      MakeRow<Done>("Firmware Erase", FirmwareErase(0x00030000), {0x20, 0x01, 0x00, 0x00, 0x03, 0x00}, {},
                    none),
      MakeRow<Done>("Firmware Write", FirmwareWrite(0x00012345, chunk, 3),
                    {0x20, 0x02, 0x45, 0x23, 0x01, 0x00, 0xA1, 0xA2, 0xA3}, {}, none, true, true),
      MakeRow<Bytes>("Firmware Read", FirmwareRead(0x00012345, 3), {0x20, 0x03, 0x45, 0x23, 0x01, 0x00, 0x03},
                     {0xA1, 0xA2, 0xA3}, Hex),
      MakeRow<Done>("Set Firmware Image Selector", SetImageSelector(kDownloaderBank), {0x20, 0x04, 0x04}, {},
                    none),
      MakeRow<uint8_t>("Get Firmware Image Selector", GetImageSelector(), {0x20, 0x05}, {0x00, 0x02},
                       [](const uint8_t& b) { return std::to_string(b); }),
      MakeRow<Done>("Set Firmware Image Downloader Selector", SetDownloaderSelector(kStandbyBank),
                    {0x20, 0x06, 0xFF}, {}, none),
      MakeRow<DownloaderSelector>("Get Firmware Image Downloader Selector", GetDownloaderSelector(),
                                  {0x20, 0x07}, {0x02, 0x01, 0x00, 0x00, 0x08, 0x00},
                                  [](const DownloaderSelector& s) { return std::to_string(s.address); }),
  };
}

// Every command against its exact answer and the ways an answer goes wrong: short, long,
// without a completion code, refused, echoing another command, lost in transport.
TEST(Decoders, EachAnswerIsDecodedOrRefusedAsItsCommandSays) {
  const std::vector<std::string> values = {
      "81.23 1b0a",
      "0100 aux",
      "2204",
      "done",
      "42 67305985 134678021",
      "4660",
      "1",
      "6 A1A2A3",
      "65535 0100510130",
      "done",
      "done",
      "7",
      "0",
      "1",
      "112233",
      "040302",
      "none",
      "done",
      "done",
      "A1A2A3",
      "done",
      "2",
      "done",
      "524288",
  };
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), values.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    transport::IpmiRequest wire;
    EXPECT_TRUE(row.request.Wire(&wire));
    EXPECT_EQ(testsupport::BytesOf(wire), row.request_bytes);
    const Bytes exact = Framed(row.request, kCcSuccess, row.data);
    EXPECT_EQ(row.decode(AnswerOf(row.request, exact)),
              (Verdict(Failure::kNone, Malformed::kNone, 0, values[i])));

    Bytes longer = exact;
    longer.push_back(0x5A);
    const Verdict tooLong = row.longerOk ? Verdict() : Verdict(Failure::kMalformed, Malformed::kLength);
    EXPECT_EQ(row.decode(AnswerOf(row.request, longer)), tooLong) << "one byte more";
    if (!row.data.empty()) {
      Bytes shorter = exact;
      shorter.pop_back();
      const Verdict tooShort = row.shorterOk ? Verdict() : Verdict(Failure::kMalformed, Malformed::kLength);
      EXPECT_EQ(row.decode(AnswerOf(row.request, shorter)), tooShort) << "one byte less";
    }
    EXPECT_EQ(row.decode(AnswerOf(row.request, Bytes(exact.begin(), exact.begin() + 2))),
              (Verdict(Failure::kMalformed, Malformed::kNoCompletionCode)));
    EXPECT_EQ(row.decode(AnswerOf(row.request, Framed(row.request, 0xC0, {}))),
              (Verdict(Failure::kCompletionCode, Malformed::kNone, 0xC0)));
    Bytes otherCommand = exact;
    otherCommand[1] ^= 0x01;
    EXPECT_EQ(row.decode(AnswerOf(row.request, otherCommand)),
              (Verdict(Failure::kMalformed, Malformed::kWrongEcho)));
    // Only the path that says so answers with the request's own network function; elsewhere
    // that is the request reflected.
    Bytes requestsOwnNetFn = exact;
    requestsOwnNetFn[0] = row.request_bytes[0];
    EXPECT_EQ(row.decode(AnswerOf(row.request, requestsOwnNetFn)),
              (Verdict(Failure::kMalformed, Malformed::kWrongEcho)));
    EXPECT_EQ(row.decode(AnswerOf(row.request, requestsOwnNetFn, transport::kExchangeOk, true)).failure,
              Failure::kNone);
    EXPECT_EQ(row.decode(AnswerOf(row.request, exact, transport::kExchangeOk, true)),
              (Verdict(Failure::kMalformed, Malformed::kWrongEcho)));
    EXPECT_EQ(row.decode(AnswerOf(row.request, exact, transport::kTransferFailed)).failure,
              Failure::kTransport);
  }
}

template <typename T>
Verdict DecodeData(const Command<T>& command, const Bytes& data) {
  const Outcome<T> out = command.Decode(AnswerOf(command.request, Framed(command.request, kCcSuccess, data)));
  return Verdict(out.failure, out.malformed, out.completionCode, "");
}

// Fields the protocol bounds: a value outside them is no answer of the command.
TEST(Decoders, ValuesOutsideTheirBoundsAreRefused) {
  const Verdict refused{Failure::kMalformed, Malformed::kValue};
  EXPECT_EQ(DecodeData(GetImageSelector(), {0x00, 0x03}), refused) << "running bank 3";
  EXPECT_EQ(DecodeData(GetImageSelector(), {0x00, 0x00}), refused) << "running bank 0";
  const Command<ChannelAccess> access = GetChannelAccess(2, AccessSet::kVolatile);
  EXPECT_EQ(DecodeData(access, {0x24, 0x04}), refused) << "access mode 4";
  EXPECT_EQ(DecodeData(access, {0x22, 0x00}), refused) << "privilege limit 0";
  EXPECT_EQ(DecodeData(access, {0x22, 0x06}), refused) << "privilege limit 6";
  EXPECT_EQ(DecodeData(GetDeviceId(), Bytes(13, 0x01)), (Verdict(Failure::kMalformed, Malformed::kLength)))
      << "a Device ID between its two lengths";
  EXPECT_EQ(DecodeData(FwIdChip(4), {0x04, 0x03, 0x02, 0x00}),
            (Verdict(Failure::kMalformed, Malformed::kLength)))
      << "a chip answer beyond its three bytes";
}

// The Microsoft driver's code-keyed policy treats three requests apart; their commands say so.
TEST(Decoders, RequestsCarryTheirRetryClass) {
  const uint8_t byte = 0;
  EXPECT_TRUE(SparedUpdateLock(LockMode::kTake).request.kind.lockable);
  EXPECT_FALSE(SparedUpdateLock(LockMode::kReleaseDiscarding).request.kind.lockable);
  EXPECT_TRUE(SparedPartialAdd(1, 0, 0, true, &byte, 1).request.kind.forgivable);
  EXPECT_FALSE(SparedPartialAdd(1, 0, 0, false, &byte, 1).request.kind.forgivable);
  EXPECT_TRUE(SparedClear(1, EraseStep::kStart).request.kind.forgivable);
  EXPECT_FALSE(SparedClear(1, EraseStep::kStatus).request.kind.forgivable);
  EXPECT_FALSE(GetDeviceId().request.kind.forgivable || GetDeviceId().request.kind.lockable);
}

// The sender puts a request on the wire whole or not at all, and its observer sees both sides.
TEST(Sender, SendsWholeRequestsOnly) {
  struct Echo : transport::IpmiDriver {
    int sent = 0;
    transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                       transport::IpmiResponse* response) override {
      ++sent;
      response->bytes[0] = static_cast<uint8_t>(request.bytes[0] + 4);
      response->bytes[1] = request.bytes[1];
      response->length = 3;
      return transport::kExchangeOk;
    }
  } driver;
  transport::IpmiTransport transport;
  transport.vendorDriver = &driver;
  LatestExchange latest;
  Sender sender(transport, &latest);
  const struct {
    size_t dataBytes;
    transport::ExchangeStatus status;
    int sent;
  } cases[] = {{253, transport::kExchangeOk, 1}, {254, transport::kDriverUnreachable, 0}};
  for (const auto& c : cases) {
    driver.sent = 0;
    const Answer answer = sender.Exchange(MakeRequest(NetFn::kFirmware, 0x02, Bytes(c.dataBytes, 0xA5)));
    EXPECT_EQ(answer.status, c.status) << c.dataBytes;
    EXPECT_EQ(driver.sent, c.sent) << c.dataBytes;
    EXPECT_EQ(latest.answer.status, c.status) << c.dataBytes;
    EXPECT_EQ(latest.request.bytes[0], 0x20) << c.dataBytes;
  }
}

}  // namespace
}  // namespace ipmi
