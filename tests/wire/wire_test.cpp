#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/byte_io.h"
#include "wire/hex_text.h"
#include "wire/text_compare.h"

namespace wire {
namespace {

// A truncated answer must fail the field that does not fit and leave everything as it was,
// so a caller that checks each read never takes bytes that were not sent.
TEST(ByteReader, EveryReadPastTheEndFailsWithoutMoving) {
  const Bytes bytes = {0x01, 0x02, 0x03};
  ByteReader reader(bytes);
  uint32_t v32 = 0xDEADBEEF;
  uint16_t v16 = 0;
  Bytes taken;
  uint8_t copy[4] = {9, 9, 9, 9};
  EXPECT_FALSE(reader.U32(&v32));
  EXPECT_EQ(v32, 0xDEADBEEFu);
  EXPECT_FALSE(reader.Copy(4, copy));
  EXPECT_EQ(copy[0], 9);
  EXPECT_FALSE(reader.Take(4, &taken));
  EXPECT_FALSE(reader.Skip(4));
  EXPECT_EQ(reader.Position(), 0u);

  EXPECT_TRUE(reader.U16(&v16));
  EXPECT_EQ(v16, 0x0201);  // little-endian
  EXPECT_FALSE(reader.U16(&v16));
  EXPECT_EQ(reader.Remaining(), 1u);
  uint8_t last = 0;
  EXPECT_TRUE(reader.U8(&last));
  EXPECT_TRUE(reader.AtEnd());
}

TEST(ByteReader, ReadsWhatTheWriterWrote) {
  ByteWriter w;
  w.U8(0x18).U16(0x1234).U32(0x89ABCDEF).U64(0x0102030405060708ull).Text("abc").Blob({7, 8});
  ByteReader r(w.bytes());
  uint8_t u8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  uint64_t u64 = 0;
  std::string text;
  Bytes blob;
  ASSERT_TRUE(r.U8(&u8) && r.U16(&u16) && r.U32(&u32) && r.U64(&u64) && r.Text(&text) && r.Blob(&blob));
  EXPECT_EQ(u8, 0x18);
  EXPECT_EQ(u16, 0x1234);
  EXPECT_EQ(u32, 0x89ABCDEFu);
  EXPECT_EQ(u64, 0x0102030405060708ull);
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(blob, (Bytes{7, 8}));
  EXPECT_TRUE(r.AtEnd());

  // A blob whose length runs past the end is refused whole.
  ByteWriter bad;
  bad.U32(10).U8(1);
  ByteReader br(bad.bytes());
  EXPECT_FALSE(br.Blob(&blob));
  EXPECT_EQ(br.Position(), 0u);

  const Bytes three = {0x01, 0x02, 0x03};
  ByteReader r24(three);
  uint32_t v24 = 0;
  ASSERT_TRUE(r24.U24(&v24));
  EXPECT_EQ(v24, 0x030201u);
}

TEST(HexText, Forms) {
  const uint8_t bytes[] = {0x18, 0x01, 0xAB};
  EXPECT_EQ(HexDump(bytes, 3), "18 01 AB ");
  EXPECT_EQ(HexDump(bytes, 0), "");
  EXPECT_EQ(HexSpaced(bytes, 3), "18 01 AB");
  EXPECT_EQ(HexCompact(bytes, 3), "1801AB");
  EXPECT_EQ(HexPair(0x0A), "0A");

  struct Case {
    const char* text;
    bool ok;
    Bytes bytes;
  } cases[] = {
      {"1801", true, {0x18, 0x01}}, {"18 01", true, {0x18, 0x01}}, {"", true, {}}, {"1 801", false, {}},
      {"180", false, {}},           {"18g1", false, {}},
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_EQ(ParseHexBytes(c.text, &out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out, c.bytes) << c.text;
    }
  }
}

TEST(HexText, RightAlignedIntoAFixedWidth) {
  struct Case {
    const char* text;
    size_t n;
    bool ok;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"ABC", 2, true, {0x0A, 0xBC}},
      {"1", 2, true, {0x00, 0x01}},
      {"abcd", 2, true, {0xAB, 0xCD}},
      {"12345", 2, false, {}},  // more digits than the field holds
      {"", 2, false, {}},
      {"1G", 1, false, {}},
      {"1", 0, false, {}},
  };
  for (const Case& c : cases) {
    uint8_t dest[2] = {0xEE, 0xEE};
    EXPECT_EQ(HexToBytesRightAligned(c.text, dest, c.n), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(std::vector<uint8_t>(dest, dest + c.n), c.bytes) << c.text;
    } else {
      EXPECT_EQ(dest[0], 0xEE) << c.text;  // untouched on failure
    }
  }
}

TEST(TextCompare, AsciiCaseOnly) {
  EXPECT_TRUE(EqualsIgnoreCase("-Version", "-VERSION"));
  EXPECT_FALSE(EqualsIgnoreCase("-version", "-versions"));
  EXPECT_FALSE(EqualsIgnoreCase("\xE4", "\xC4"));  // no locale folding of non-ASCII bytes
  EXPECT_TRUE(StartsWithIgnoreCase("sdrname x", "SDRNAME"));
  EXPECT_FALSE(StartsWithIgnoreCase("SDR", "SDRNAME"));
  EXPECT_EQ(AsciiLowerText("AbC0"), "abc0");
}

}  // namespace
}  // namespace wire
