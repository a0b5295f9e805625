#include "sdrtool/sdr_text/sdr_parser.h"

#include <cstring>
#include <new>
#include <string>

#include "sdrtool/sdr_run.h"
#include "sdrtool/sdr_text/name_match.h"
#include "sdrtool/sdr_text/sdr_tokenizer.h"
#include "sdrtool/sdr_text/text_file.h"
#include "wire/hex_text.h"
#include "wire/text_compare.h"

namespace veltrop {
namespace {

constexpr int kMaxRecordLength = kMaxSdrBodyBytes;  // what _REC_LEN may give, header included
constexpr size_t kMaxTextItem = 22;
constexpr size_t kMaxOemTextItem = 56;

// One pass over an SDR text file. Header failures are reported here (the result is then 81);
// the numbers of the section and its SEL header info are returned for the caller to report.
class SdrTextParser {
 public:
  SdrTextParser(SdrRun& run, TextFile& file, const SetNameList* names)
      : run_(run), file_(file), tokens_(file), names_(names) {}

  int Run(SdrRecordList* list) {
    int result = ParseHeader();
    if (result == 0) result = ParseSelHeader();
    if (result == 0) result = ParseRecords(list);
    // A file that could not be read to its end fails for that reason, whatever the grammar
    // made of the tokens up to there.
    if (result != 0 && result != kAlreadyReported && file_.problem() != TextFile::Problem::kNone) {
      return ReportReadingProblem();
    }
    return result;
  }

 private:
  int ReportReadingProblem() {
    file_.ReportProblem([this](int number, uint16_t value) { return run_.errors.Report(number, value); });
    return kAlreadyReported;
  }

  int Fail(int number, const char* detail = nullptr) {
    if (file_.problem() != TextFile::Problem::kNone) return ReportReadingProblem();
    run_.errors.Report(number, 0, detail);
    return kAlreadyReported;
  }

  // The value of at most 4 hex digits. Reports error 3 and yields 0 for more digits or a
  // non-hex digit; an empty text is 0.
  uint16_t HexToWord(const std::string& text) {
    if (text.size() > 4 || !wire::IsHexText(text)) {
      run_.errors.Report(3);
      return 0;
    }
    uint16_t value = 0;
    for (char c : text) value = static_cast<uint16_t>(value << 4 | wire::HexDigitValue(c));
    return value;
  }

  // A header line: the keyword, its quoted value, and nothing else that counts on the line.
  int HeaderLine(SdrKeyword keyword, int missingKeyword, int missingText, std::string* value) {
    if (!tokens_.Next().Is(keyword)) return Fail(missingKeyword);
    SdrToken token = tokens_.Next();
    if (token.kind != SdrTokenKind::Text) return Fail(missingText);
    // Only the format version is used; the other values are checked, never stored, so any
    // length is safe.
    *value = token.text;
    tokens_.DiscardLine();
    return 0;
  }

  int ParseHeader() {
    std::string value;
    if (HeaderLine(SdrKeyword::LfName, 47, 53, &value) != 0) return kAlreadyReported;
    if (HeaderLine(SdrKeyword::LfVersion, 48, 56, &value) != 0) return kAlreadyReported;
    if (HeaderLine(SdrKeyword::LfFmtVer, 46, 52, &value) != 0) return kAlreadyReported;
    const std::string format = value.substr(0, 3);
    const bool format15 = format == "1.5";
    if (!format15 && format != "1.3" && format != "1.4") return Fail(59, "1.5");

    SdrToken token = tokens_.Next();
    if (!token.Is(SdrKeyword::SdrVersion) && !token.Is(SdrKeyword::IpmiVersion)) return Fail(44);
    token = tokens_.Next();
    if (token.kind != SdrTokenKind::Hex && token.text.size() != 4) return Fail(55);
    run_.programming.ipmi15Format = false;
    if (format15) {
      if (token.text != "1.00" && token.text != "1.50") return Fail(61, "1.00");
      run_.programming.ipmi15Format = true;
    } else {
      uint8_t version[2] = {};
      const bool is0100 =
          wire::HexToBytesRightAligned(token.text, version, 2) && version[0] == 0x01 && version[1] == 0x00;
      if (!is0100 && token.text != "0.90") return Fail(60, "0.90");
    }
    if (!tokens_.Next().Is(SdrKeyword::Sdr)) return 43;
    return 0;
  }

  bool HexOfAtMost(size_t digits) {
    SdrToken token = tokens_.Next();
    return token.kind == SdrTokenKind::Hex && token.text.size() <= digits;
  }

  int ParseSelHeader() {
    if (!tokens_.Next().Is(SdrKeyword::Open)) return 45;
    if (!tokens_.Next().Is(SdrKeyword::StartAddr)) return 51;
    if (!HexOfAtMost(4)) return 39;
    if (!tokens_.Next().Is(SdrKeyword::DataLen)) return 40;
    if (!HexOfAtMost(4)) return 36;
    if (!tokens_.Next().Is(SdrKeyword::NvsType)) return 49;
    SdrToken token = tokens_.Next();
    if (token.kind != SdrTokenKind::Text || !wire::EqualsIgnoreCase(token.text, "IMBDEVICE")) return 54;
    if (!tokens_.Next().Is(SdrKeyword::DevBus)) return 42;
    if (!HexOfAtMost(2)) return 35;
    if (!tokens_.Next().Is(SdrKeyword::DevAddress)) return 41;
    if (!HexOfAtMost(2)) return 34;
    return 0;
  }

  int ParseRecords(SdrRecordList* list) {
    int recordNumber = 0;
    for (;;) {
      SdrToken token = tokens_.Next();
      if (token.Is(SdrKeyword::Close)) return 0;
      // A file cut short must not pass for a whole one: that would erase the repository and
      // write only part of the records.
      if (token.kind == SdrTokenKind::EndOfFile) return 62;
      if (!token.Is(SdrKeyword::SdrType)) continue;
      ++recordNumber;
      // Each record starts from a clean one, whatever a dropped record left.
      SdrRecord record;
      bool selected = false;
      if (ParseRecord(&record, &selected) != 0) {
        if (file_.problem() != TextFile::Problem::kNone) return ReportReadingProblem();
        run_.errors.Report(57, static_cast<uint16_t>(recordNumber));
        return 62;
      }
      if (selected) {
        try {
          list->push_back(record);
        } catch (const std::bad_alloc&) {
          return 2;
        }
      }
    }
  }

  // One record after _SDR_TYPE; 0 or the record's failure number.
  int ParseRecord(SdrRecord* node, bool* selected) {
    SdrToken token = tokens_.Next();
    if (token.kind != SdrTokenKind::Hex) return 38;
    const int typeResult = wire::HexToBytesRightAligned(token.text, &node->type, 1) ? 0 : 3;
    const bool oemText = wire::EqualsIgnoreCase(token.text, "C0");

    token = tokens_.Next();
    *selected = !token.Is(SdrKeyword::SdrTag);
    while (token.Is(SdrKeyword::SdrTag)) {
      token = tokens_.Next();
      if (token.kind != SdrTokenKind::Text) return 63;
      if (!*selected && names_ && NameMatch(*names_, token.text)) *selected = true;
      // Longer tags are cut to the field; matching above saw the whole text.
      node->tag = token.text.substr(0, kMaxSdrTagLength);
      token = tokens_.Next();
    }
    if (typeResult != 0) return typeResult;

    if (!token.Is(SdrKeyword::RecLen)) return 50;
    token = tokens_.Next();
    if (token.kind != SdrTokenKind::Hex) return 37;
    node->length = HexToWord(token.text);
    if (node->length > kMaxRecordLength) return 58;

    int offset = 0;
    do {
      token = tokens_.Next();
      if (token.kind == SdrTokenKind::Hex) {
        if (token.text.size() % 2 != 0) return 3;
        const int count = static_cast<int>(token.text.size() / 2);
        // Items may overshoot the record length, never the record's bytes.
        if (offset + count > kMaxRecordLength) return 1;
        if (!wire::HexToBytesRightAligned(token.text, node->bytes + offset, static_cast<size_t>(count)))
          return 3;
        offset += count;
      } else if (token.kind == SdrTokenKind::Text) {
        const size_t limit = oemText ? kMaxOemTextItem : kMaxTextItem;
        const size_t missing = static_cast<size_t>(node->length - offset);
        if (token.text.size() != missing || token.text.size() > limit) return 1;
        std::memcpy(node->bytes + offset, token.text.data(), missing);
        offset += static_cast<int>(missing);
      } else {
        return 1;
      }
    } while (offset < node->length);
    return 0;
  }

  SdrRun& run_;
  TextFile& file_;
  SdrTokenizer tokens_;
  const SetNameList* names_;
};

}  // namespace

bool IsVendorTextRecord(const uint8_t* record, uint8_t marker) {
  // Byte 8 belongs to the record only when the body holds at least 4 bytes.
  return record[3] == 0xC0 && record[4] >= 4 && record[5] == VendorManufacturerId[0] &&
         record[6] == VendorManufacturerId[1] && record[7] == VendorManufacturerId[2] && record[8] == marker;
}

void ScanSdrVersion(SdrRun& run, const SdrRecordList& list) {
  ProgrammingState& state = run.programming;
  for (const SdrRecord& record : list) {
    ++state.fileRecordCount;
    if (!state.sdrVersionText.empty() || !IsVendorTextRecord(record.bytes, kSdrVersionMarker)) continue;
    int end = record.BodyLength() + kSdrHeaderBytes;
    if (end > kMaxSdrRecordBytes) end = kMaxSdrRecordBytes;
    std::string text;
    for (int i = 8; i < end && record.bytes[i] != 0; ++i) text += static_cast<char>(record.bytes[i]);
    state.sdrVersionText = text;
  }
}

int ParseSdrText(SdrRun& run, TextFile& file, const SetNameList* names, SdrRecordList* list) {
  list->clear();
  file.DiscardLine();
  SdrRecordList parsed;
  SdrTextParser parser(run, file, names);
  const int result = parser.Run(&parsed);
  // Nothing after the closing parenthesis is read, and a failed file is not read further.
  file.Close();
  if (result != 0) return result;
  *list = std::move(parsed);
  ScanSdrVersion(run, *list);
  return 0;
}

}  // namespace veltrop
