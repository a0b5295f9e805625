#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "sdrtool/sdr_text/name_match.h"
#include "sdrtool/sdr_text/text_file.h"
#include "sdrtool/transcript.h"
#include "tests/sdrtool/sdr_parser_fixture.h"
#include "wire/hex_text.h"

namespace veltrop {
namespace {

using TextHelpersTest = SdrParserTest;

TEST_F(TextHelpersTest, HexToBytes) {
  struct Case {
    const char* text;
    int n;
    int result;
    std::vector<uint8_t> bytes;  // the n bytes written, when 0
  };
  const std::vector<Case> cases = {
      {"1", 2, 0, {0x00, 0x01}},
      {"0100", 2, 0, {0x01, 0x00}},
      {"ABC", 2, 0, {0x0A, 0xBC}},
      {"abc", 3, 0, {0x00, 0x0A, 0xBC}},
      {"fF", 1, 0, {0xFF}},
      {"", 1, 3, {}},
      {"123", 1, 3, {}},
      {"12", 0, 3, {}},
      {"1G", 1, 3, {}},
      {"12#", 2, 3, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " n=" + std::to_string(c.n));
    uint8_t dest[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(c.result, wire::HexToBytesRightAligned(c.text, dest, static_cast<size_t>(c.n)) ? 0 : 3);
    if (c.result == 0) {
      EXPECT_EQ(c.bytes, std::vector<uint8_t>(dest, dest + c.n));
      EXPECT_EQ(0xEE, dest[c.n]);
    } else {
      EXPECT_EQ(std::vector<uint8_t>(4, 0xEE), std::vector<uint8_t>(dest, dest + 4));
    }
  }
}

// A record length of more than four digits is reported where it is read.
TEST_F(TextHelpersTest, OverlongRecordLengthIsReported) {
  const std::string text =
      "_LF_NAME 'T'\n_LF_VERSION '1'\n_LF_FMT_VER '1.5'\n_SDR_VERSION '1.50'\n_SDR\n(\n_START_ADDR 0\n"
      "_DATA_LEN 0\n_NVS_TYPE 'IMBDEVICE'\n_DEV_BUS 00\n_DEV_ADDRESS 20\n_SDR_TYPE 01\n_REC_LEN "
      "12345\n00\n)\n";
  ParseText(text);
  EXPECT_EQ(std::vector<std::string>{"Error, invalid number of bytes used to indicate hex number"},
            LogLines());
}

TEST_F(TextHelpersTest, NameMatch) {
  struct Case {
    std::string tag;
    SetNameList names;
    bool match;
  };
  const std::string name32(32, 'N');
  const std::vector<Case> cases = {
      {"CPU2", {"cpu2"}, true},
      {"cpu2", {"CPU2"}, true},
      {"CPU2", {"CPU1", "CPU2"}, true},
      {"CPU2", {"CPU"}, false},
      {"CPU", {"CPU2"}, false},
      {"FAN#", {"fan0"}, true},
      {"FAN#", {"FAN9"}, true},
      {"FAN#", {"FANX"}, false},
      {"FAN#", {"FAN12"}, false},
      {"FAN#", {"FAN#"}, true},   // the mark agrees with itself
      {"FAN1", {"FAN#"}, false},  // only the tag's "#" is a wildcard
      {"##", {"07"}, true},
      {"", {""}, true},
      {"A", {}, false},
      {name32 + "TAIL", {name32 + "OTHER"}, true},  // 32 agreeing positions suffice
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    EXPECT_EQ(c.match, NameMatch(c.names, c.tag));
  }
}

TEST_F(TextHelpersTest, PrintableText) {
  const char plain[] = "Writing SDR Record #1 ~\x7F";
  EXPECT_EQ(plain, PrintableText(plain));  // the input itself, unchanged
  EXPECT_STREQ("", PrintableText("tab\there"));
  EXPECT_STREQ("", PrintableText("line\n"));
  EXPECT_STREQ("", PrintableText("\x80"));
  EXPECT_STREQ("", PrintableText(""));
}

std::string DumpOf(const uint8_t* record, const char* title) {
  Transcript transcript;
  EXPECT_TRUE(transcript.Open("transcript.txt"));
  transcript.DumpRecord(record, title);
  transcript.Close();
  // Text mode on Windows: compare with LF line ends.
  std::string text = testsupport::ReadFileOrEmpty("transcript.txt");
  std::string lf;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lf += text[i];
  }
  return lf;
}

TEST_F(TextHelpersTest, DumpRecordLayout) {
  uint8_t record[kMaxSdrRecordBytes] = {0x01, 0x00, 0x51, 0x01, 0x3B, 'T', 'e', 'm', 'p', 0x00, 0x7F, 0x20};
  record[63] = 0x41;
  record[64] = 0x42;  // beyond the 64 dumped bytes
  // The text view stops at the first NUL; what it holds is a control byte, so it prints empty.
  std::string expected = "Writing SDR Record #1\n\n";
  expected += " 01 00 51 01 3B 54 65 6D 70 00 7F 20 00 00 00 00   ..Q.;Temp.. ....\n";
  std::string zeroRow;
  for (int i = 0; i < 16; ++i) zeroRow += " 00";
  expected += zeroRow + "   ................\n";
  expected += zeroRow + "   ................\n";
  std::string lastRow;
  for (int i = 0; i < 15; ++i) lastRow += " 00";
  expected += lastRow + " 41   ...............A\n\n";
  EXPECT_EQ(expected, DumpOf(record, "Writing SDR Record #1"));

  // A record without NUL: the text view ends with the 64 bytes; a title with a control
  // character prints as an empty line.
  std::memset(record, 'R', sizeof record);
  std::string dump = DumpOf(record, "bad\ttitle");
  EXPECT_EQ("\n" + std::string(64, 'R') + "\n", dump.substr(0, 66));
  EXPECT_EQ(1u + 65 + 4 * (16 * 3 + 3 + 16 + 1) + 1, dump.size());

  Transcript closed;
  closed.DumpRecord(record, "no transcript");  // nothing open: nothing written
  EXPECT_TRUE(closed.Write("text"));
}

TEST_F(TextHelpersTest, OpenFile) {
  TextFile ctx;
  EXPECT_EQ(TextFile::Opened::kUnreadable, ctx.Open(dir.File("missing")));
  EXPECT_FALSE(ctx.IsOpen());
  EXPECT_EQ(TextFile::Opened::kUnreadable, ctx.Open(dir.path()));  // a directory cannot be read
  EXPECT_FALSE(ctx.IsOpen());

  testsupport::WriteFile(dir.File("empty"), "");
  EXPECT_EQ(TextFile::Opened::kEmpty, ctx.Open(dir.File("empty")));
  EXPECT_FALSE(ctx.IsOpen());

  testsupport::WriteFile(dir.File("one"), "x");
  EXPECT_EQ(TextFile::Opened::kOpened, ctx.Open(dir.File("one")));
  ASSERT_TRUE(ctx.ReadLine());
  EXPECT_STREQ("x", ctx.line);      // the probe character is not lost
  EXPECT_TRUE(LogLines().empty());  // the callers report
}

TEST_F(TextHelpersTest, ReadLineSplitsLongLinesAndTakesCrLfAsLineFeed) {
  const std::string longLine(300, 'a');
  testsupport::WriteFile(dir.File("lines"), "one\r\n" + longLine + "\n" + std::string(254, 'b') + "\r\nlast");
  TextFile ctx;
  ASSERT_EQ(TextFile::Opened::kOpened, ctx.Open(dir.File("lines")));
  std::vector<std::string> pieces;
  while (ctx.ReadLine()) {
    EXPECT_EQ(0, ctx.cursor);
    pieces.push_back(ctx.line);
  }
  const std::vector<std::string> expected = {"one\n", longLine.substr(0, 255), longLine.substr(255) + "\n",
                                             std::string(254, 'b') + "\n", "last"};
  EXPECT_EQ(expected, pieces);
  EXPECT_EQ(5, ctx.lineCount);
  EXPECT_EQ(-1, ctx.cursor);
}

}  // namespace
}  // namespace veltrop
