#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sdrtool/bmc_status.h"
#include "sdrtool/sdr_text/sdr_parser.h"
#include "tests/sdrtool/sdr_parser_fixture.h"

namespace veltrop {
namespace {

const char kHeader[] =
    "_LF_NAME 'TEST.SDR'\n"
    "_LF_VERSION '1.00'\n"
    "_LF_FMT_VER '1.5'\n"
    "_SDR_VERSION '1.50'\n";

const char kSelHeader[] =
    "_SDR\n"
    "(\n"
    "_START_ADDR 0000\n"
    "_DATA_LEN 1000\n"
    "_NVS_TYPE 'IMBDEVICE'\n"
    "_DEV_BUS 00\n"
    "_DEV_ADDRESS 20\n";

// A management controller locator: 5-byte header and 10 body bytes.
const char kMcRecord[] = "_SDR_TYPE 12\n_REC_LEN 0F\n0100 51 12 0A 20 00 00 00 00 00 00 00 00 00\n";

std::string Sdr(const std::string& records) {
  return std::string(kHeader) + kSelHeader + records + ")\n";
}

std::string Record(const std::string& type, const std::string& tags, const std::string& length,
                   const std::string& data) {
  return "_SDR_TYPE " + type + "\n" + tags + "_REC_LEN " + length + "\n" + data + "\n";
}

std::vector<uint8_t> Bytes(const SdrRecord* node) {
  return std::vector<uint8_t>(node->bytes, node->bytes + node->length);
}

TEST_F(SdrParserTest, ParsesRecordsInFileOrder) {
  ASSERT_EQ(0, ParseText(Sdr(std::string(kMcRecord) + Record("01", "", "07", "0200 51 01 02 AB CD"))));
  auto records = Records();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(0x12, records[0]->type);
  EXPECT_EQ(15, records[0]->length);
  EXPECT_EQ(0x20, records[0]->bytes[5]);
  EXPECT_EQ(0x01, records[1]->type);
  EXPECT_EQ((std::vector<uint8_t>{0x02, 0x00, 0x51, 0x01, 0x02, 0xAB, 0xCD}), Bytes(records[1]));
  EXPECT_TRUE(run->programming.ipmi15Format);
  EXPECT_EQ(3, run->programming.fileRecordCount);  // starts at 1, one per node
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(LogLines().empty());
}

struct HeaderCase {
  const char* name;
  std::string text;
  int result;
  const char* logLine;  // nullptr: nothing is logged
};

TEST_F(SdrParserTest, HeaderRules) {
  const std::string sel = kSelHeader;
  const std::string rest = sel + kMcRecord + ")\n";
  const std::string name = "_LF_NAME 'TEST.SDR'\n";
  const std::string version = "_LF_VERSION '1.00'\n";
  const std::string fmt15 = "_LF_FMT_VER '1.5'\n";
  const std::string fmt14 = "_LF_FMT_VER '1.4'\n";
  const std::vector<HeaderCase> cases = {
      {"comments and blank lines anywhere",
       "// made by hand\n\n" + name + "  // note\n\t\n" + version + fmt15 + "_SDR_VERSION\n// x\n'1.50'\n" +
           rest,
       0, nullptr},
      {"words after a header value",
       "_LF_NAME 'TEST.SDR' made by hand\n" + version + fmt15 + "_SDR_VERSION 1.50\n" + rest, 0, nullptr},
      {"first tag missing", version + fmt15 + rest, 81,
       "Error, _LF_NAME should be the first tag in the file"},
      {"file name not quoted", "_LF_NAME TEST.SDR\n" + version + fmt15 + rest, 81,
       "Error, expected ASCII text after _LF_NAME"},
      {"two header tags on one line", "_LF_NAME 'TEST.SDR' _LF_VERSION '1.00'\n" + fmt15 + rest, 81,
       "Error, _LF_VERSION should follow _LF_NAME"},
      {"file version not quoted", name + "_LF_VERSION 1.00\n" + fmt15 + rest, 81,
       "Error, expected ASCII text after _LF_VERSION"},
      {"format version missing", name + version + "_SDR_VERSION '1.50'\n" + rest, 81,
       "Error, _LF_FMT_VER should follow _LF_VERSION"},
      {"format version not quoted", name + version + "_LF_FMT_VER 1.5\n" + rest, 81,
       "Error, expected ASCII text after _LF_FMT_VER"},
      {"format 1.50 counts as 1.5", name + version + "_LF_FMT_VER '1.50'\n_SDR_VERSION '1.00'\n" + rest, 0,
       nullptr},
      {"format 1.6", name + version + "_LF_FMT_VER '1.6'\n_SDR_VERSION '1.50'\n" + rest, 81,
       "Error, this program only supports file format version 1.5"},
      {"SDR version tag missing", name + version + fmt15 + "'1.50'\n" + rest, 81,
       "Error, _IPMI_VERSION should follow _LF_FMT_VER"},
      {"_IPMI_VERSION as the tag", name + version + fmt15 + "_IPMI_VERSION 1.00\n" + rest, 0, nullptr},
      {"format 1.5, version of three characters", name + version + fmt15 + "_SDR_VERSION 1.0\n" + rest, 81,
       "Error, expected ASCII text after _IPMI_VERSION"},
      {"format 1.5, version 0100", name + version + fmt15 + "_SDR_VERSION 0100\n" + rest, 81,
       "Error, this program only supports SDR format version 1.00 or higher."},
      {"format 1.4, version 0100", name + version + fmt14 + "_SDR_VERSION 0100\n" + rest, 0, nullptr},
      {"format 1.4, version 100 is 01h 00h too", name + version + fmt14 + "_SDR_VERSION 100\n" + rest, 0,
       nullptr},
      {"format 1.3, version '0.90'", name + version + "_LF_FMT_VER '1.3'\n_SDR_VERSION '0.90'\n" + rest, 0,
       nullptr},
      {"format 1.4, version 1.50", name + version + fmt14 + "_SDR_VERSION 1.50\n" + rest, 81,
       "Error, this program only supports SDR format version 0.90"},
      {"_SDR written with its parenthesis", std::string(kHeader) + "_SDR(\n" + rest, 43, nullptr},
      {"end of file in the header", name + version, 81, "Error, _LF_FMT_VER should follow _LF_VERSION"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::WriteFile(dir.File(kMainLog), "");
    EXPECT_EQ(c.result, ParseText(c.text));
    auto lines = LogLines();
    if (c.logLine) {
      EXPECT_EQ(std::vector<std::string>{c.logLine}, lines);
    } else {
      EXPECT_TRUE(lines.empty()) << lines[0];
    }
    EXPECT_FALSE(file.IsOpen());
    if (c.result != 0) {
      EXPECT_TRUE(records.empty());
    }
  }
}

TEST_F(SdrParserTest, FormatChoiceSetsIpmi15Format) {
  ASSERT_EQ(0, ParseText("_LF_NAME 'A'\n_LF_VERSION 'B'\n_LF_FMT_VER '1.4'\n_SDR_VERSION '0.90'\n" +
                         std::string(kSelHeader) + ")\n"));
  EXPECT_FALSE(run->programming.ipmi15Format);
  ASSERT_EQ(0, ParseText(Sdr("")));
  EXPECT_TRUE(run->programming.ipmi15Format);
}

TEST_F(SdrParserTest, SelHeaderRules) {
  struct Case {
    const char* name;
    std::string sel;
    int result;
  };
  const std::string open = "_SDR\n(\n";
  const std::vector<Case> cases = {
      {"over several lines with comments",
       open + "_START_ADDR\n// x\n0000 _DATA_LEN 1000#\n_NVS_TYPE 'imbDevice' _DEV_BUS 0 _DEV_ADDRESS 20\n",
       0},
      {"parenthesis missing", "_SDR\n_START_ADDR 0000\n", 45},
      {"start address first", open + "_DATA_LEN 1000\n", 51},
      {"start address of five digits", open + "_START_ADDR 00000\n", 39},
      {"data length missing", open + "_START_ADDR 0 _NVS_TYPE 'IMBDEVICE'\n", 40},
      {"data length not hex", open + "_START_ADDR 0 _DATA_LEN 10G0\n", 36},
      {"NVS type missing", open + "_START_ADDR 0 _DATA_LEN 0 _DEV_BUS 00\n", 49},
      {"NVS type not quoted", open + "_START_ADDR 0 _DATA_LEN 0 _NVS_TYPE IMBDEVICE\n", 54},
      {"NVS type other", open + "_START_ADDR 0 _DATA_LEN 0 _NVS_TYPE 'EEPROM'\n", 54},
      {"bus missing", open + "_START_ADDR 0 _DATA_LEN 0 _NVS_TYPE 'IMBDEVICE' _DEV_ADDRESS 20\n", 42},
      {"bus of three digits", open + "_START_ADDR 0 _DATA_LEN 0 _NVS_TYPE 'IMBDEVICE' _DEV_BUS 000\n", 35},
      {"address missing", open + "_START_ADDR 0 _DATA_LEN 0 _NVS_TYPE 'IMBDEVICE' _DEV_BUS 0\n)\n", 41},
      {"address not hex",
       open + "_START_ADDR 0 _DATA_LEN 0 _NVS_TYPE 'IMBDEVICE' _DEV_BUS 0 _DEV_ADDRESS 2X\n", 34},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::WriteFile(dir.File(kMainLog), "");
    EXPECT_EQ(c.result, ParseText(kHeader + c.sel + kMcRecord + ")\n"));
    // These numbers are the caller's to report.
    EXPECT_TRUE(LogLines().empty());
  }
}

TEST_F(SdrParserTest, HexItemsOfAnyGroupingGiveTheSameBytes) {
  const std::vector<uint8_t> expected = {0x01, 0x00, 0x51, 0x12, 0x05, 0x20, 0x00, 0xA0, 0xBC, 0xDE};
  const std::vector<std::string> groupings = {
      "0100511205 20 00 A0 BC DE",
      "01 00 51 12 05 2000A0bcde",
      "0100\n// comment between items\n51 1205\n\n20 00A0BC DE",
      "01# 0051# 12 05 20 00 A0 BCDE#",
  };
  for (const auto& data : groupings) {
    SCOPED_TRACE(data);
    ASSERT_EQ(0, ParseText(Sdr(Record("12", "", "0A", data))));
    ASSERT_EQ(1u, Records().size());
    EXPECT_EQ(expected, Bytes(Records()[0]));
  }
}

// Each body fails its record, which is the second of the file: 57 with number 2, then 62 for
// the caller.
TEST_F(SdrParserTest, FailingRecordsAreReportedByNumber) {
  const std::string ok = kMcRecord;
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"type not hex", "_SDR_TYPE XY _REC_LEN 05 0100511205\n"},
      {"type of three digits", "_SDR_TYPE 012 _REC_LEN 05 0100511205\n"},
      {"tag not quoted", "_SDR_TYPE 01 _SDR_TAG CPU1 _REC_LEN 05 0100510100\n"},
      {"record length missing", "_SDR_TYPE 01 0100510100\n"},
      {"record length not hex", "_SDR_TYPE 01 _REC_LEN 'x' 0100510100\n"},
      {"record length 41h", Record("01", "", "41", std::string(130, 'A'))},
      {"odd number of digits", Record("01", "", "05", "0100 51 010")},
      {"data item is other text", Record("01", "", "05", "0100 51 01 0Z")},
      {"text item shorter than the rest", Record("01", "", "08", "0100510103 'AB'")},
      {"text item longer than the rest", Record("01", "", "08", "0100510103 'ABCD'")},
      {"text item of 23 characters", Record("01", "", "1C", "0100510117 '" + std::string(23, 'N') + "'")},
      {"OEM text item of 57 characters",
       Record("C0", "", "3E", "0100 51 C0 39 '" + std::string(57, 'N') + "'")},
      {"record length 0 takes the next keyword as data", "_SDR_TYPE 01 _REC_LEN 0\n" + ok},
      {"next record before this one is full", "_SDR_TYPE 01 _REC_LEN 0F 0100510109\n"},
      {"closing parenthesis inside the record", "_SDR_TYPE 01 _REC_LEN 0F 0100510109\n)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    testsupport::WriteFile(dir.File(kMainLog), "");
    EXPECT_EQ(62, ParseText(Sdr(ok + c.second + ok)));
    EXPECT_EQ(std::vector<std::string>{"Error, invalid Sensor Data Record found, number 2"}, LogLines());
    EXPECT_TRUE(records.empty());
  }
}

TEST_F(SdrParserTest, RecordLengthLimits) {
  // 64 bytes is the largest record.
  std::string body64 = "0100 51 01 3B";
  for (int i = 0; i < 59; ++i) body64 += " 5A";
  ASSERT_EQ(0, ParseText(Sdr(Record("01", "", "40", body64))));
  EXPECT_EQ(64, Records()[0]->length);
  EXPECT_EQ(0x5A, Records()[0]->bytes[63]);

  // Length 0 still takes one item.
  ASSERT_EQ(0, ParseText(Sdr(Record("01", "", "0", "0102") + kMcRecord)));
  ASSERT_EQ(2u, Records().size());
  EXPECT_EQ(0, Records()[0]->length);
  EXPECT_EQ(0x02, Records()[0]->bytes[1]);
  ASSERT_EQ(0, ParseText(Sdr(Record("01", "", "0", "''"))));

  // A _REC_LEN of five digits is reported at once and counts as 0.
  testsupport::WriteFile(dir.File(kMainLog), "");
  ASSERT_EQ(0, ParseText(Sdr(Record("01", "", "0000F", "01"))));
  EXPECT_EQ(std::vector<std::string>{"Error, invalid number of bytes used to indicate hex number"},
            LogLines());
  EXPECT_EQ(0, Records()[0]->length);
}

TEST_F(SdrParserTest, HexItemRunningPastTheRecordBytesFailsTheRecord) {
  std::string body = "0100 51 01 3B";
  for (int i = 0; i < 58; ++i) body += " 5A";
  // 63 bytes so far: a 2-byte item would end at 65.
  EXPECT_EQ(62, ParseText(Sdr(Record("01", "", "40", body + " 0102"))));
  EXPECT_EQ(std::vector<std::string>{"Error, invalid Sensor Data Record found, number 1"}, LogLines());
  // One item may overshoot the record length, not the 64 bytes.
  EXPECT_EQ(0, ParseText(Sdr(Record("01", "", "05", std::string(128, 'B')))));
  EXPECT_EQ(62, ParseText(Sdr(Record("01", "", "05", std::string(130, 'B')))));
}

TEST_F(SdrParserTest, TextItems) {
  // Spaces, tabs and "//" belong to the text.
  ASSERT_EQ(0, ParseText(Sdr(Record("01", "", "0E", "0100510109 'A //\tB  Z'"))));
  EXPECT_EQ("A //\tB  Z", std::string(reinterpret_cast<const char*>(Records()[0]->bytes + 5), 9));

  // 22 characters in an ordinary record, 56 in an OEM record ("c0" in any case).
  ASSERT_EQ(0, ParseText(Sdr(Record("01", "", "1B", "0100510116 '" + std::string(22, 'N') + "'"))));
  ASSERT_EQ(0, ParseText(Sdr(Record("c0", "", "40", "0100 51 C0 3B 2D9B4E '" + std::string(56, 'N') + "'"))));
  EXPECT_EQ('N', Records()[0]->bytes[63]);

  // A quoted text directly followed by a keyword is two tokens: the next record starts.
  ASSERT_EQ(0,
            ParseText(Sdr("_SDR_TYPE 01 _REC_LEN 07 0100510102 'AB'_SDR_TYPE 02 _REC_LEN 05 0100510200\n")));
  EXPECT_EQ(2u, Records().size());
}

TEST_F(SdrParserTest, KeywordsAreCaseSensitive) {
  const std::string lower = "_sdr_type 01 _rec_len 05 0100510100\n";
  ASSERT_EQ(0, ParseText(Sdr(lower + kMcRecord)));
  ASSERT_EQ(1u, Records().size());
  EXPECT_EQ(0x12, Records()[0]->type);
}

TEST_F(SdrParserTest, TokensBetweenRecordsAreSkipped) {
  ASSERT_EQ(0, ParseText(Sdr("_FRU 12 'x' junk\n" + std::string(kMcRecord) + "_SEL // c\n" + kMcRecord)));
  EXPECT_EQ(2u, Records().size());
}

// A record whose last item is "C0" must not cost the next record its _SDR_TYPE.
TEST_F(SdrParserTest, RecordEndingWithC0KeepsTheNextRecord) {
  ASSERT_EQ(0,
            ParseText(Sdr("_SDR_TYPE 01 _REC_LEN 06 0100510101 C0\n_SDR_TYPE 02 _REC_LEN 05 0100510200\n")));
  ASSERT_EQ(2u, Records().size());
  EXPECT_EQ(0xC0, Records()[0]->bytes[5]);
  EXPECT_EQ(0x02, Records()[1]->type);
}

TEST_F(SdrParserTest, FileEndingBeforeTheClosingParenthesisFails) {
  std::string text = Sdr(std::string(kMcRecord) + kMcRecord);
  text.resize(text.size() - 2);  // without ")\n"
  EXPECT_EQ(62, ParseText(text));
  EXPECT_TRUE(records.empty());
  EXPECT_TRUE(LogLines().empty());  // the caller reports "parsing SDR file"
  EXPECT_EQ(1, run->programming.fileRecordCount);

  // Cut inside a record: that record fails.
  EXPECT_EQ(
      62, ParseText(std::string(kHeader) + kSelHeader + kMcRecord + "_SDR_TYPE 01 _REC_LEN 0F 0100510109\n"));
  EXPECT_EQ(std::vector<std::string>{"Error, invalid Sensor Data Record found, number 2"}, LogLines());
  EXPECT_TRUE(records.empty());
}

TEST_F(SdrParserTest, NothingAfterTheClosingParenthesisIsRead) {
  ASSERT_EQ(0, ParseText(Sdr(kMcRecord) + "_SDR_TYPE ZZ garbage\n"));
  EXPECT_EQ(1u, Records().size());
}

TEST_F(SdrParserTest, WindowsLineEndsParseTheSame) {
  std::string text = Sdr(std::string(kMcRecord) + Record("01", "_SDR_TAG 'CPU1'\n", "07", "0100510102 'AB'"));
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  SetNameList names = {"CPU1"};
  ASSERT_EQ(0, ParseText(crlf, &names));
  ASSERT_EQ(2u, Records().size());
  EXPECT_EQ("CPU1", Records()[1]->tag);
}

TEST_F(SdrParserTest, TaggedRecordSelection) {
  const std::string records =
      Record("01", "_SDR_TAG 'CPU1'\n", "05", "0100510100") +
      Record("01", "_SDR_TAG 'CPU2'\n", "05", "0200510100") +
      Record("01", "_SDR_TAG 'FAN#'\n", "05", "0300510100") +
      Record("01", "_SDR_TAG 'X' _SDR_TAG 'CPU2' _SDR_TAG 'LAST'\n", "05", "0400510100") +
      Record("01", "", "05", "0500510100");
  struct Case {
    SetNameList names;
    std::vector<uint8_t> ids;
  };
  const std::vector<Case> cases = {
      {{}, {5}},       {{"CPU2"}, {2, 4, 5}}, {{"cpu1", "Fan7"}, {1, 3, 5}},
      {{"FANA"}, {5}}, {{"FAN33"}, {5}},      {{"FAN"}, {5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names.empty() ? std::string("no names") : c.names[0]);
    ASSERT_EQ(0, ParseText(Sdr(records), &c.names));
    std::vector<uint8_t> ids;
    for (const SdrRecord* n : Records()) ids.push_back(n->bytes[0]);
    EXPECT_EQ(c.ids, ids);
  }
  SetNameList cpu2 = {"CPU2"};
  ASSERT_EQ(0, ParseText(Sdr(records), &cpu2));
  EXPECT_EQ("LAST", Records()[1]->tag);  // the last tag names the record
  EXPECT_EQ("", Records()[2]->tag);
}

TEST_F(SdrParserTest, RecordNumbersCountDroppedRecords) {
  const std::string records = Record("01", "_SDR_TAG 'A'\n", "05", "0100510100") +
                              Record("01", "_SDR_TAG 'B'\n", "05", "0200510100") +
                              "_SDR_TYPE 01 _REC_LEN 05 01\n";
  EXPECT_EQ(62, ParseText(Sdr(records)));
  EXPECT_EQ(std::vector<std::string>{"Error, invalid Sensor Data Record found, number 3"}, LogLines());
}

// A dropped record's bytes must not show through in the record that reuses its node.
TEST_F(SdrParserTest, KeptRecordStartsClean) {
  std::string dropped = Record("01", "_SDR_TAG 'OFF'\n", "0A", "0100 51 01 05 FFFFFFFFFF");
  ASSERT_EQ(0, ParseText(Sdr(dropped + Record("02", "", "05", "0200510200"))));
  ASSERT_EQ(1u, Records().size());
  EXPECT_EQ(std::vector<uint8_t>(sizeof Records()[0]->bytes - 5, 0),
            std::vector<uint8_t>(Records()[0]->bytes + 5, Records()[0]->bytes + sizeof Records()[0]->bytes));
  EXPECT_EQ("", Records()[0]->tag);
}

TEST_F(SdrParserTest, LongTagsAndHeaderValuesStayWithinTheirFields) {
  const std::string longTag(40, 'T');
  SetNameList names = {longTag.substr(0, 31)};
  std::string text = "_LF_NAME '" + std::string(200, 'N') + "'\n_LF_VERSION '" + std::string(100, 'V') +
                     "'\n_LF_FMT_VER '1.5'\n_SDR_VERSION 1.50\n" + kSelHeader +
                     Record("01", "_SDR_TAG '" + longTag + "'\n", "05", "0100510100") + ")\n";
  ASSERT_EQ(0, ParseText(text));
  EXPECT_TRUE(Records().empty());  // tagged, no names
  // A 31-character name ends before the tag does; 32 agreeing positions match.
  ASSERT_EQ(0, ParseText(text, &names));
  EXPECT_TRUE(Records().empty());
  names = {longTag.substr(0, 32)};
  ASSERT_EQ(0, ParseText(text, &names));
  ASSERT_EQ(1u, Records().size());
  EXPECT_EQ(longTag.substr(0, 32), Records()[0]->tag);
}

SdrRecord* Append(SdrRecordList* list, const std::vector<uint8_t>& bytes) {
  list->emplace_back();
  std::copy(bytes.begin(), bytes.end(), list->back().bytes);
  list->back().length = static_cast<int32_t>(bytes.size());
  return &list->back();
}

std::vector<uint8_t> VersionRecord(const std::string& text, uint8_t manufacturerLow = 0x2D) {
  // Built by appending: g++ 12 at -O2 warns falsely on insert after a list-initialised vector.
  std::vector<uint8_t> r;
  for (uint8_t b : {uint8_t{0x01}, uint8_t{0x00}, uint8_t{0x51}, uint8_t{0xC0},
                    static_cast<uint8_t>(3 + text.size()), manufacturerLow, uint8_t{0x9B}, uint8_t{0x4E}})
    r.push_back(b);
  for (char c : text) r.push_back(static_cast<uint8_t>(c));
  return r;
}

TEST_F(SdrParserTest, VersionScanTakesTheFirstVendorVersionRecord) {
  SdrRecordList list;
  Append(&list, {0x01, 0x00, 0x51, 0x12, 0x00});
  Append(&list, VersionRecord("S2026010100001.00", 0x2C));               // another manufacturer
  Append(&list, VersionRecord("X2026010100001.00"));                     // not an "S" record
  Append(&list, {0x05, 0x00, 0x51, 0xC0, 0x03, 0x2D, 0x9B, 0x4E, 'S'});  // byte 8 beyond the body
  Append(&list, VersionRecord("S2026120700001.50"));
  Append(&list, VersionRecord("S2027000000009.99"));
  ScanSdrVersion(*run, list);
  EXPECT_EQ("S2026120700001.50", run->programming.sdrVersionText);
  EXPECT_EQ(7, run->programming.fileRecordCount);

  // Set at most once per run; the count goes on.
  SdrRecordList second;
  Append(&second, VersionRecord("S2028000000001.00"));
  ScanSdrVersion(*run, second);
  EXPECT_EQ("S2026120700001.50", run->programming.sdrVersionText);
  EXPECT_EQ(8, run->programming.fileRecordCount);
}

TEST_F(SdrParserTest, VersionTextEndsAtTheRecordEndOrANul) {
  SdrRecordList list;
  SdrRecord* node = Append(&list, VersionRecord("S2026120700001.50"));
  node->bytes[4] = 3 + 5;  // the body ends after "S2026"
  ScanSdrVersion(*run, list);
  EXPECT_EQ("S2026", run->programming.sdrVersionText);

  run->programming.sdrVersionText.clear();
  node->bytes[4] = 3 + 17;
  node->bytes[8 + 4] = 0;
  ScanSdrVersion(*run, list);
  EXPECT_EQ("S202", run->programming.sdrVersionText);

  // A body length beyond the node stops at the node's end.
  run->programming.sdrVersionText.clear();
  SdrRecordList full;
  node = Append(&full, VersionRecord(std::string(1, 'S') + std::string(60, '7')));
  node->bytes[4] = 0xFF;
  ScanSdrVersion(*run, full);
  EXPECT_EQ(sizeof node->bytes - 8, run->programming.sdrVersionText.size());
}

TEST_F(SdrParserTest, ParseScansTheVersionRecord) {
  ASSERT_EQ(0, ParseText(Sdr(std::string(kMcRecord) +
                             Record("C0", "", "19", "0200 51 C0 14 2D9B4E 'S2026120700001.50'"))));
  EXPECT_EQ("S2026120700001.50", run->programming.sdrVersionText);
  EXPECT_EQ(3, run->programming.fileRecordCount);
}

std::string Example(const char* name) {
  return std::string(BMC_EXAMPLES_DIR) + "/" + name;
}

// Offset of the ID string type/length byte of the record kinds that carry a name.
int NameLengthOffset(uint8_t type) {
  switch (type) {
    case 0x01:
      return 47;
    case 0x02:
      return 31;
    case 0x11:
    case 0x12:
      return 15;
    default:
      return -1;
  }
}

// Every record a valid IPMI SDR: header consistent with _SDR_TYPE and _REC_LEN, names filling
// the record, sensor numbers unique per owner.
void ExpectValidRecords(const std::vector<const SdrRecord*>& records) {
  std::set<std::pair<uint8_t, uint8_t>> sensors;
  for (const SdrRecord* r : records) {
    SCOPED_TRACE("record ID " + std::to_string(r->bytes[0] | r->bytes[1] << 8));
    EXPECT_EQ(0x51, r->bytes[2]);
    EXPECT_EQ(r->type, r->bytes[3]);
    EXPECT_EQ(r->length - 5, r->bytes[4]);
    int at = NameLengthOffset(r->type);
    if (at > 0) {
      EXPECT_EQ(0xC0 | (r->length - at - 1), r->bytes[at]);
    }
    if (r->type == 0x01 || r->type == 0x02) {
      EXPECT_TRUE(sensors.insert({r->bytes[5], r->bytes[7]}).second) << "sensor number used twice";
    }
  }
}

TEST_F(SdrParserTest, ExampleFilesParse) {
  ASSERT_EQ(0, ParsePath(Example("bmcsdr_v2.sdr"), nullptr));
  auto v2 = Records();
  EXPECT_EQ(38u, v2.size());
  ExpectValidRecords(v2);
  EXPECT_EQ("S2026120700001.50", run->programming.sdrVersionText);
  EXPECT_EQ("01.50", NormaliseVersionText(run->programming.sdrVersionText));
  EXPECT_TRUE(run->programming.ipmi15Format);

  run->programming.sdrVersionText.clear();
  ASSERT_EQ(0, ParsePath(Example("bmcsdr_v1.sdr"), nullptr));
  ExpectValidRecords(Records());
  EXPECT_EQ(36u, Records().size());
  EXPECT_EQ("01.20", NormaliseVersionText(run->programming.sdrVersionText));
}

TEST_F(SdrParserTest, TaggedExampleSelectsByBoardVariant) {
  struct Case {
    SetNameList names;
    size_t records;
  };
  const std::vector<Case> cases = {
      {{}, 20},       {{"CPU2"}, 23}, {{"FAN6"}, 23},
      {{"FAN4"}, 24}, {{"PSU2"}, 23}, {{"PMBUS"}, 21},
      {{"HDD8"}, 24}, {{"FANX"}, 20}, {{"cpu2", "fan4", "psu2", "hdd8"}, 34},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names.empty() ? std::string("no names") : c.names[0]);
    ASSERT_EQ(0, ParsePath(Example("bmcsdr_tagged.sdr"), &c.names));
    EXPECT_EQ(c.records, Records().size());
    ExpectValidRecords(Records());
  }
}

}  // namespace
}  // namespace veltrop
