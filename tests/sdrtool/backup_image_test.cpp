#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "sdrtool/backup_image.h"
#include "sdrtool/programming/sdr_programming.h"
#include "sdrtool/repository/repository_reader.h"
#include "tests/sdrtool/veltrop_fixture.h"
#include "tests/support/ipmi_request.h"

namespace veltrop {
namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::Record;

// Passes every exchange to the simulated BMC; a test may look before it or change the answer.
class TapDriver : public transport::IpmiDriver {
 public:
  explicit TapDriver(transport::IpmiDriver& inner) : inner_(inner) {}
  std::function<void()> before;
  std::function<void(const uint8_t* request, uint8_t* response, uint8_t length)> after;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    if (before) before();
    auto status = inner_.Exchange(request, response);
    if (after && status == transport::kExchangeOk) after(request.bytes, response->bytes, response->length);
    return status;
  }

 private:
  transport::IpmiDriver& inner_;
};

// Records 1..n held in memory and served by Reserve and Get SDR alone: repository sizes that
// the simulated BMC takes long to serve.
class MemoryRepository : public transport::IpmiDriver {
 public:
  std::vector<Record> records;

  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override {
    Bytes answer;
    if (request.length == 2 && request.bytes[0] == 0x28 && request.bytes[1] == 0x22) {
      answer = {0x2C, 0x22, 0x00, 0x01, 0x00};
    } else if (request.length == 8 && request.bytes[0] == 0x28 && request.bytes[1] == 0x23) {
      const size_t id = static_cast<size_t>(request.bytes[4] | request.bytes[5] << 8);
      const size_t index = id == 0 ? 0 : id - 1;
      if (index >= records.size() ||
          request.bytes[6] + request.bytes[7] > static_cast<int>(records[index].size())) {
        return transport::kTransferFailed;
      }
      const uint16_t next = index + 1 < records.size() ? static_cast<uint16_t>(index + 2) : 0xFFFF;
      answer = {0x2C, 0x23, 0x00, static_cast<uint8_t>(next), static_cast<uint8_t>(next >> 8)};
      answer.insert(answer.end(), records[index].begin() + request.bytes[6],
                    records[index].begin() + request.bytes[6] + request.bytes[7]);
    } else {
      return transport::kDriverUnreachable;
    }
    const size_t n = answer.size() < sizeof response->bytes ? answer.size() : sizeof response->bytes;
    std::memcpy(response->bytes, answer.data(), n);
    response->length = static_cast<uint8_t>(n);
    return transport::kExchangeOk;
  }
};

// The image format, decoded and encoded here on its own terms rather than with the writer's code.
uint32_t Le32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | static_cast<uint32_t>(b[at + 3])
                                                                               << 24;
}
void PutLe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
uint8_t Sum(const Bytes& b, size_t from, size_t count) {
  unsigned sum = 0;
  for (size_t i = from; i < from + count; ++i) sum += b[i];
  return static_cast<uint8_t>(sum);
}
// Sets the byte at `at` so the bytes from..at sum to zero.
void Seal(Bytes& b, size_t from, size_t at) {
  b[at] = static_cast<uint8_t>(0x100 - Sum(b, from, at - from));
}

struct ImageShape {
  bool withControl = true;
  uint32_t announcedArea = 0xFFFFFFFF;  // default: the area's real length
  Bytes extension;                      // empty: none
};

Bytes EncodeImage(const Bytes& area, const ImageShape& shape = {}) {
  Bytes header(64, 0);
  std::memcpy(header.data(), "QYX IPMI", 8);
  header[8] = 0x04;
  header[9] = 0x02;
  header[10] = 0x09;
  PutLe32(header, 12, 1288000000);
  PutLe32(header, 16, 64);
  PutLe32(header, 20, shape.withControl ? 96 : 0);
  PutLe32(header, 28, shape.extension.empty() ? 0 : 1);
  Seal(header, 0, 63);
  Bytes info(32, 0);
  Seal(info, 0, 31);
  Bytes image = header;
  image.insert(image.end(), info.begin(), info.end());
  image.insert(image.end(), shape.extension.begin(), shape.extension.end());
  if (!shape.withControl) return image;
  Bytes control(32, 0);
  PutLe32(control, 16, 32);
  PutLe32(control, 20,
          shape.announcedArea == 0xFFFFFFFF ? static_cast<uint32_t>(area.size()) : shape.announcedArea);
  control[30] = static_cast<uint8_t>(0x100 - Sum(area, 0, area.size()));
  Seal(control, 0, 31);
  image.insert(image.end(), control.begin(), control.end());
  image.insert(image.end(), area.begin(), area.end());
  return image;
}

Record MakeRecord(uint16_t id, uint8_t type, const Bytes& body) {
  Record r = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), 0x51, type,
              static_cast<uint8_t>(body.size())};
  r.insert(r.end(), body.begin(), body.end());
  return r;
}

// The vendor's OEM records: the version text begins with its marker "S" (byte 8), the
// configuration name follows marker 16h.
Record VersionRecord(uint16_t id, const std::string& text) {
  Bytes body = {0x2D, 0x9B, 0x4E};
  body.insert(body.end(), text.begin(), text.end());
  return MakeRecord(id, 0xC0, body);
}

Record CfgNameRecord(uint16_t id, const std::string& name) {
  Bytes body = {0x2D, 0x9B, 0x4E, 0x16};
  body.insert(body.end(), name.begin(), name.end());
  return MakeRecord(id, 0xC0, body);
}

Record Filler(uint16_t id, uint8_t bodyLength) {
  Bytes body(bodyLength);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(id + i);
  return MakeRecord(id, 0x01, body);
}

std::vector<Record> Fillers(int count, uint8_t bodyLength = 40) {
  std::vector<Record> records;
  for (int i = 1; i <= count; ++i) records.push_back(Filler(static_cast<uint16_t>(i), bodyLength));
  return records;
}

Bytes WithoutRecordIds(const std::vector<Record>& records) {
  Bytes out;
  for (const Record& r : records) out.insert(out.end(), r.begin() + 2, r.end());
  return out;
}

class BackupImage : public VeltropFixture {
 protected:
  // One request straight to the simulated BMC, for checking the image against the BMC itself.
  Bytes Ask(const Bytes& request) {
    transport::IpmiResponse response;
    EXPECT_EQ(driver->Exchange(testsupport::RequestOf(request), &response), transport::kExchangeOk);
    return testsupport::BytesOf(response);
  }

  Bytes FileBytes(const std::string& name) const {
    const std::string content = Read(name);
    return Bytes(content.begin(), content.end());
  }
  void WriteBytes(const std::string& name, const Bytes& bytes) const {
    Write(name, std::string(bytes.begin(), bytes.end()));
  }

  int Backup(const std::string& name) {
    run = NewRun(ModeBackup);
    return ErrorNumber(BackupRepository(*run, name));
  }

  bool Load(const Bytes& image) {
    WriteBytes("image.bin", image);
    run = NewRun(ModeUpdate);
    return LoadBackupImage(*run, "image.bin");
  }

  std::vector<std::string> Errors() const {
    std::vector<std::string> errors;
    for (const auto& line : LogLines()) {
      if (line.rfind("Error, ", 0) == 0) errors.push_back(line);
    }
    return errors;
  }

  std::unique_ptr<SdrRun> run;
};

TEST_F(BackupImage, BackupOfRealCaptureDecodesFieldByField) {
  struct Case {
    bool aux;
    uint8_t ipmiVersion;
  };
  for (const Case& c : {Case{true, 0x51}, Case{false, 0x20}}) {
    SCOPED_TRACE(c.ipmiVersion);
    testsupport::SimIdentity identity;
    identity.auxRevision = c.aux;
    identity.ipmiVersion = c.ipmiVersion;
    bmc.Init(identity);
    bmc.LoadRecords(testsupport::RealSdr("server01.bin"));
    const std::vector<Record> records = bmc.Records();
    ASSERT_EQ(records.size(), 167u);

    ASSERT_EQ(Backup("x.bak"), 0);
    EXPECT_TRUE(LogHas("SDR backup complete."));
    const int64_t stamp = clock.WallSeconds();  // the virtual clock's local time is its UTC time
    const Bytes image = FileBytes("x.bak");
    const Bytes area = testsupport::JoinRecords(records);
    ASSERT_EQ(image.size(), 128 + area.size());

    // Header.
    EXPECT_EQ(std::string(image.begin(), image.begin() + 8), "QYX IPMI");
    EXPECT_EQ(Bytes(image.begin() + 8, image.begin() + 12), (Bytes{0x04, 0x02, 0x09, 0x00}));
    EXPECT_EQ(Le32(image, 12), static_cast<uint32_t>(stamp));
    EXPECT_EQ(Le32(image, 16), 64u);
    EXPECT_EQ(Le32(image, 20), 96u);
    EXPECT_EQ(Bytes(image.begin() + 24, image.begin() + 63), Bytes(39, 0));
    EXPECT_EQ(Sum(image, 0, 64), 0);

    // BMC information block: what the BMC answers to Get Device ID and the OEM query.
    const Bytes deviceId = Ask({0x18, 0x01});
    ASSERT_EQ(deviceId.size(), c.aux ? 18u : 14u);
    Bytes identityBytes(16, 0);
    std::copy(deviceId.begin() + 2, deviceId.end(), identityBytes.begin());
    EXPECT_EQ(Bytes(image.begin() + 64, image.begin() + 80), identityBytes);
    EXPECT_EQ(Bytes(image.begin() + 80, image.begin() + 92), Bytes(12, 0));
    if (c.ipmiVersion == 0x51) {
      EXPECT_EQ(image[64 + 28], Ask({0xF8, 0xE0})[3]);
      EXPECT_EQ(image[64 + 29], 1);
    } else {
      EXPECT_EQ(image[64 + 28], 0);
      EXPECT_EQ(image[64 + 29], 0);
    }
    EXPECT_EQ(image[64 + 30], c.aux ? 1 : 0);
    EXPECT_EQ(Sum(image, 64, 32), 0);

    // SDR control block: the repository information and the record area's size and sum.
    const Bytes info = Ask({0x28, 0x20});
    ASSERT_EQ(info.size(), 17u);
    EXPECT_EQ(Bytes(image.begin() + 96, image.begin() + 111), Bytes(info.begin() + 2, info.end()));
    EXPECT_EQ(image[96 + 15], 0);
    EXPECT_EQ(Le32(image, 96 + 16), 32u);
    EXPECT_EQ(Le32(image, 96 + 20), area.size());
    EXPECT_EQ(Bytes(image.begin() + 120, image.begin() + 126), Bytes(6, 0));
    EXPECT_EQ(static_cast<uint8_t>(Sum(area, 0, area.size()) + image[96 + 30]), 0);
    EXPECT_EQ(Sum(image, 96, 32), 0);

    // Record area: the repository's records in repository order.
    EXPECT_EQ(Bytes(image.begin() + 128, image.end()), area);
  }
}

TEST_F(BackupImage, BackupRunThroughTheMainFlow) {
  bmc.LoadRecords(testsupport::RealSdr("server07.bin"));
  EXPECT_EQ(Run({"-backup", "run.bak"}), 0);
  EXPECT_TRUE(LogHas("SDR backup complete."));
  const Bytes image = FileBytes("run.bak");
  ASSERT_GE(image.size(), 128u);
  EXPECT_EQ(Bytes(image.begin() + 128, image.end()), testsupport::JoinRecords(bmc.Records()));
  EXPECT_THAT(console.Output(), ::testing::HasSubstr(" ----- > #112\r\n"));
}

TEST_F(BackupImage, ChangedByteFailsWithThePartsName) {
  bmc.LoadRecords(testsupport::RealSdr("server01.bin"));
  ASSERT_EQ(Backup("x.bak"), 0);
  const Bytes good = FileBytes("x.bak");
  struct Case {
    size_t offset;
    const char* error;  // nullptr: loads
  };
  const size_t last = good.size() - 1;
  const Case cases[] = {
      {0, "Error, BIN file not Backup file illegal File ID"},
      {7, "Error, BIN file not Backup file illegal File ID"},
      {8, "Error, BIN file Checksum error IPMI header infomation"},
      {12, "Error, BIN file Checksum error IPMI header infomation"},
      {63, "Error, BIN file Checksum error IPMI header infomation"},
      {64, nullptr},
      {64 + 5, nullptr},
      {64 + 31, nullptr},
      {96, "Error, BIN file Checksum error IPMI SDR Contorol infomation"},
      {96 + 30, "Error, BIN file Checksum error IPMI SDR Contorol infomation"},
      {96 + 31, "Error, BIN file Checksum error IPMI SDR Contorol infomation"},
      {128, "Error, BIN file Checksum error IPMI SDR Records"},
      {last, "Error, BIN file Checksum error IPMI SDR Records"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    Bytes image = good;
    image[c.offset] ^= 0x20;
    std::remove(File(kMainLog).c_str());
    const bool loaded = Load(image);
    EXPECT_EQ(loaded, c.error == nullptr);
    if (c.error) {
      EXPECT_THAT(Errors(), ::testing::ElementsAre(c.error));
      EXPECT_TRUE(run->image.records.empty());
    } else {
      EXPECT_THAT(Errors(), ::testing::IsEmpty());
      EXPECT_EQ(Bytes(run->image.records), Bytes(good.begin() + 128, good.end()));
    }
  }
}

TEST_F(BackupImage, TruncatedOrMissingFile) {
  const Bytes good = EncodeImage(testsupport::JoinRecords(Fillers(3)));
  for (size_t length : {size_t{0}, size_t{63}, size_t{95}, size_t{100}, good.size() - 1}) {
    SCOPED_TRACE(length);
    std::remove(File(kMainLog).c_str());
    EXPECT_FALSE(Load(Bytes(good.begin(), good.begin() + static_cast<long>(length))));
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_THAT(Errors()[0], ::testing::StartsWith("Error, Backup File I/O error _read : errno="));
    EXPECT_EQ(Result("Update_normal.xml").resultCode, "SDR031");
    std::remove(File("Update_normal.xml").c_str());
  }
  std::remove(File(kMainLog).c_str());
  run = NewRun(ModeUpdate);
  EXPECT_FALSE(LoadBackupImage(*run, "absent.bin"));
  EXPECT_THAT(Errors(), ::testing::ElementsAre("Error, failed to open the specified input file absent.bin"));
}

TEST_F(BackupImage, ImageWithoutControlBlockBuildsAnEmptyList) {
  ImageShape shape;
  shape.withControl = false;
  ASSERT_TRUE(Load(EncodeImage({}, shape)));
  SdrRecordList list;
  EXPECT_EQ(BuildListFromImage(*run, &list), SdrError::kNone);
  EXPECT_TRUE(list.empty());
}

// Programming an image without records would leave the server without sensor records: the
// update is refused before the lock is taken, whether the image declares no control block or
// an empty record area.
TEST_F(BackupImage, ImageWithoutRecordsIsNotProgrammed) {
  const std::vector<Record> before = Fillers(3);
  ImageShape bare;
  bare.withControl = false;
  for (const Bytes& image : {EncodeImage({}), EncodeImage({}, bare)}) {
    bmc.LoadRecords(before);
    bmc.ClearLog();
    WriteBytes("empty.bin", image);
    EXPECT_EQ(Run({"-update", "-force", "-bin", "empty.bin"}), 0);
    EXPECT_EQ(Result("Update_force.xml").resultCode, "SDR062");
    EXPECT_TRUE(LogHas("The SDR input holds no records"));
    EXPECT_EQ(bmc.Records(), before);
    for (const std::string& line : bmc.LogLines())
      EXPECT_EQ(line.rfind("F8 10", 0), std::string::npos) << line;
  }
}

TEST_F(BackupImage, ExtensionBlockIsSkipped) {
  const Bytes area = testsupport::JoinRecords(Fillers(2));
  Bytes extension(32 + 10, 0xEE);
  PutLe32(extension, 20, 10);
  ImageShape shape;
  shape.extension = extension;
  ASSERT_TRUE(Load(EncodeImage(area, shape)));
  EXPECT_EQ(run->image.records, area);
}

TEST_F(BackupImage, ImagesThatCannotBeProgrammedAreRefused) {
  struct Case {
    const char* name;
    Bytes image;
    const char* error;
  };
  Bytes tooLong = Filler(1, 65);
  Bytes runsPastEnd = Filler(1, 20);
  runsPastEnd.resize(15);
  ImageShape huge;
  huge.announcedArea = 65536;
  const Bytes good = EncodeImage(testsupport::JoinRecords(Fillers(2)));
  // Header offsets other than the writer's, with the header's checksum made to fit.
  auto withOffset = [&good](size_t field, uint32_t value) {
    Bytes image = good;
    PutLe32(image, field, value);
    Seal(image, 0, 63);
    return image;
  };
  Bytes trailing = good;
  trailing.push_back(0x00);
  ImageShape bare;
  bare.withControl = false;
  Bytes bareTrailing = EncodeImage({}, bare);
  bareTrailing.insert(bareTrailing.end(), good.begin() + 96, good.end());
  const Case cases[] = {
      {"information block elsewhere", withOffset(16, 96),
       "Error, BIN file not Backup file illegal Block offset"},
      {"control block elsewhere", withOffset(20, 128),
       "Error, BIN file not Backup file illegal Block offset"},
      {"a byte after the records", trailing, "Error, BIN file not Backup file illegal File size"},
      {"blocks after an image that declares none", bareTrailing,
       "Error, BIN file not Backup file illegal File size"},
      {"record body of 65 bytes", EncodeImage(tooLong), "Error, invalid Sensor Data Record length found"},
      {"record running past the area", EncodeImage(runsPastEnd),
       "Error, invalid Sensor Data Record length found"},
      {"header cut by the area's end", EncodeImage({1, 0, 0x51}),
       "Error, invalid Sensor Data Record length found"},
      {"area of more than 65535 bytes", EncodeImage(Bytes(70000, 0), huge),
       "Error, BIN file not Backup file illegal SDR Records length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(File(kMainLog).c_str());
    EXPECT_FALSE(Load(c.image));
    EXPECT_THAT(Errors(), ::testing::ElementsAre(c.error));
    EXPECT_TRUE(run->image.records.empty());
  }
  // The largest record a node holds still loads.
  EXPECT_TRUE(Load(EncodeImage(Filler(1, 64))));
}

TEST_F(BackupImage, ListFromImageKeepsRecordsAndFindsTheVersion) {
  std::vector<Record> records = {Filler(1, 10), VersionRecord(2, "S2026120700001.50"), Filler(3, 64),
                                 VersionRecord(4, "S2026120700001.40")};
  ASSERT_TRUE(Load(EncodeImage(testsupport::JoinRecords(records))));
  SdrRecordList list;
  const int countBefore = run->programming.fileRecordCount;
  ASSERT_EQ(BuildListFromImage(*run, &list), SdrError::kNone);
  size_t i = 0;
  for (const SdrRecord* node = list.data(); i < list.size(); ++node, ++i) {
    ASSERT_LT(i, records.size());
    EXPECT_EQ(node->length, records[i][4]);
    EXPECT_EQ(Bytes(node->bytes, node->bytes + records[i].size()), records[i]);
    EXPECT_EQ(node->type, 0x24);
    EXPECT_TRUE(node->tag.empty());
  }
  EXPECT_EQ(i, records.size());
  EXPECT_EQ(run->programming.sdrVersionText, "S2026120700001.50");
  EXPECT_EQ(run->programming.fileRecordCount, countBefore + 4);
}

TEST_F(BackupImage, RepositoryReadTakesFirstVersionAndConfigurationName) {
  bmc.LoadRecords(std::vector<Record>{Filler(1, 20), VersionRecord(2, "S2026120700001.50"),
                                      CfgNameRecord(3, "CONFIG1"), VersionRecord(4, "S2026120700001.60"),
                                      CfgNameRecord(5, "CONFIG2")});
  run = NewRun(ModeVersion);
  ASSERT_TRUE(ReadWholeRepository(*run));
  EXPECT_EQ(run->bmc.sdrVersionText, "S2026120700001.50");
  EXPECT_EQ(run->bmc.cfgName, "CONFIG1.CFG");
  EXPECT_EQ(run->image.records, testsupport::JoinRecords(bmc.Records()));
  EXPECT_TRUE(LogHas("SDRReocrd Reading", kVersionLog));

  // The area is read once per run.
  bmc.ClearLog();
  EXPECT_TRUE(ReadWholeRepository(*run));
  EXPECT_TRUE(bmc.LogLines().empty());
}

TEST_F(BackupImage, RepositoryReadRaisesTheRatioPerRecord) {
  bmc.LoadRecords(Fillers(48, 20));
  TapDriver tap(*driver);
  std::vector<std::string> published;
  tap.before = [&] {
    const testsupport::ResultTree ratio = Result("Get_ratio.xml_tmp");
    if (ratio.parsed && (published.empty() || published.back() != ratio.data))
      published.push_back(ratio.data);
  };
  env.vendorDriver = &tap;
  run = NewRun(ModeUpdate);
  run->bmc.recordCount = 48;
  run->ctx.progressRatio = 5;
  ASSERT_TRUE(ReadWholeRepository(*run));
  EXPECT_THAT(published, ::testing::ElementsAre("10", "15", "20", "25"));
  EXPECT_EQ(run->ctx.progressRatio, 29);
  EXPECT_EQ(Result("Get_ratio.xml_tmp").data, "25");
}

TEST_F(BackupImage, RepositoryReadInOperatorRunsShowsNoRatio) {
  bmc.LoadRecords(Fillers(12, 20));
  run = NewRun(ModeUpdate);
  run->settings.DirectMode = true;
  run->settings.ConsoleEcho = true;
  run->ApplySettings();
  run->ctx.progressRatio = 5;
  ASSERT_TRUE(ReadWholeRepository(*run));
  EXPECT_EQ(run->ctx.progressRatio, 5);
  EXPECT_FALSE(platform::FileReadable(File("Get_ratio.xml_tmp")));
  EXPECT_THAT(console.Output(), ::testing::HasSubstr(" ----- > #1\r ----- > #2\r"));
  EXPECT_THAT(console.Output(), ::testing::HasSubstr(" ----- > #12\r\n"));
}

TEST_F(BackupImage, RepositoryBeyondTheRecordAreaFailsTheRead) {
  MemoryRepository repository;
  env.vendorDriver = &repository;
  // 950 records of 69 bytes fill 65550 bytes; one fewer fits.
  repository.records = Fillers(950, 64);
  run = NewRun(ModeBackup);
  EXPECT_FALSE(ReadWholeRepository(*run));
  EXPECT_THAT(Errors(),
              ::testing::ElementsAre("Error, IPMI comand error for Backup/GetSdrVersion Command: Get SDR "
                                     "or Reserve SDR Repository records exceed 65535 bytes"));
  EXPECT_TRUE(run->image.records.empty());

  repository.records.pop_back();
  run = NewRun(ModeBackup);
  EXPECT_TRUE(ReadWholeRepository(*run));
  EXPECT_EQ(run->image.records, testsupport::JoinRecords(repository.records));
}

TEST_F(BackupImage, RecordChainThatLoopsFailsTheRead) {
  bmc.LoadRecords(Fillers(5));
  TapDriver tap(*driver);
  // The last record points back to the second one.
  tap.after = [](const uint8_t* request, uint8_t* response, uint8_t length) {
    if (request[1] == 0x23 && length >= 5 && response[3] == 0xFF && response[4] == 0xFF) {
      response[3] = 0x02;
      response[4] = 0x00;
    }
  };
  env.vendorDriver = &tap;
  run = NewRun(ModeBackup);
  EXPECT_FALSE(ReadWholeRepository(*run));
  EXPECT_THAT(Errors(),
              ::testing::ElementsAre("Error, IPMI comand error for Backup/GetSdrVersion Command: Get SDR "
                                     "or Reserve SDR Repository illegal Next Record ID : 0002 h (read "
                                     "before)"));
  EXPECT_TRUE(run->image.records.empty());
}

TEST_F(BackupImage, FailedCommandsFailTheBackupAndKeepThePreviousFile) {
  struct Case {
    const char* fault;
    const char* error;
  };
  const Case cases[] = {
      {"netfn=0x06 cmd=0x01 cc=0xc0",
       "Error, IPMI comand error for Backup/GetSdrVersion Command: Get Device ID"},
      {"netfn=0x0a cmd=0x23 skip=3 count=1 cc=0xcb",
       "Error, IPMI comand error for Backup/GetSdrVersion Command: Get SDR or Reserve SDR Repository illegal "
       "Completion Code : CB h"},
      {"netfn=0x0a cmd=0x20 cc=0xc1",
       "Error, IPMI comand error for Backup/GetSdrVersion Command: Get SDR Repository Info"},
  };
  bmc.LoadRecords(Fillers(4));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Write("x.bak", "previous backup");
    std::remove(File(kMainLog).c_str());
    bmc.ClearFaults();
    bmc.AddFault(c.fault);
    EXPECT_EQ(Backup("x.bak"), 81);
    EXPECT_THAT(Errors(), ::testing::Contains(c.error));
    EXPECT_FALSE(LogHas("SDR backup complete."));
    EXPECT_EQ(Read("x.bak"), "previous backup");
  }
}

TEST_F(BackupImage, UnwritableBackupKeepsThePreviousFile) {
  bmc.LoadRecords(Fillers(4));
  // A directory that does not exist cannot take the image.
  EXPECT_EQ(Backup(File("missing/x.bak")), 81);
  EXPECT_THAT(Errors(),
              ::testing::ElementsAre(::testing::StartsWith("Error, failed to open output bin file _open : "
                                                           "errno=")));

  // A target that cannot be replaced leaves no temporary file behind.
  std::remove(File(kMainLog).c_str());
  ASSERT_TRUE(platform::MakeDirectory(File("dir.bak")));
  EXPECT_EQ(Backup("dir.bak"), 81);
  EXPECT_THAT(Errors(),
              ::testing::ElementsAre(::testing::StartsWith("Error, failed to open output bin file")));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "dir.bak" || name.rfind("dir.bak", 0) != 0) << name;
  }
}

TEST_F(BackupImage, BinOfABackupReprogramsTheSameRecords) {
  bmc.LoadRecords(testsupport::RealSdr("server01.bin"));
  const std::vector<Record> original = bmc.Records();
  ASSERT_EQ(Backup("x.bak"), 0);
  bmc.LoadRecords(Fillers(3));

  EXPECT_EQ(Run({"-update", "-force", "-bin", "x.bak"}), 0);
  EXPECT_TRUE(LogHas("Programming complete, reboot server for normal operation "));
  EXPECT_EQ(Result("Update_force.xml").resultCode, "Complete");
  // The BMC numbers the records anew; everything else is the backup's.
  EXPECT_EQ(WithoutRecordIds(bmc.Records()), WithoutRecordIds(original));
}

}  // namespace
}  // namespace veltrop
