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

  SdrError Run(SdrRecordList* list) {
    SdrError result = ParseHeader();
    if (result == SdrError::kNone) result = ParseSelHeader();
    if (result == SdrError::kNone) result = ParseRecords(list);
    // A file that could not be read to its end fails for that reason, whatever the grammar
    // made of the tokens up to there.
    if (result != SdrError::kNone && result != SdrError::kAlreadyReported &&
        file_.problem() != TextFile::Problem::kNone) {
      return ReportReadingProblem();
    }
    return result;
  }

 private:
  SdrError ReportReadingProblem() {
    file_.ReportProblem([this](SdrError error, uint16_t value) { return run_.errors.Report(error, value); });
    return SdrError::kAlreadyReported;
  }

  SdrError Fail(SdrError error, const char* detail = nullptr) {
    if (file_.problem() != TextFile::Problem::kNone) return ReportReadingProblem();
    run_.errors.Report(error, 0, detail);
    return SdrError::kAlreadyReported;
  }

  // The value of at most 4 hex digits. Reports error 3 and yields 0 for more digits or a
  // non-hex digit; an empty text is 0.
  uint16_t HexToWord(const std::string& text) {
    if (text.size() > 4 || !wire::IsHexText(text)) {
      run_.errors.Report(SdrError::kInvalidHexDigitCount);
      return 0;
    }
    uint16_t value = 0;
    for (char c : text) value = static_cast<uint16_t>(value << 4 | wire::HexDigitValue(c));
    return value;
  }

  // A header line: the keyword, its quoted value, and nothing else that counts on the line.
  SdrError HeaderLine(SdrKeyword keyword, SdrError missingKeyword, SdrError missingText, std::string* value) {
    if (!tokens_.Next().Is(keyword)) return Fail(missingKeyword);
    SdrToken token = tokens_.Next();
    if (token.kind != SdrTokenKind::Text) return Fail(missingText);
    // Only the format version is used; the other values are checked, never stored, so any
    // length is safe.
    *value = token.text;
    tokens_.DiscardLine();
    return SdrError::kNone;
  }

  SdrError ParseHeader() {
    std::string value;
    if (HeaderLine(SdrKeyword::LfName, SdrError::kLfNameNotFirst, SdrError::kLfNameTextExpected, &value) !=
        SdrError::kNone) {
      return SdrError::kAlreadyReported;
    }
    if (HeaderLine(SdrKeyword::LfVersion, SdrError::kLfVersionOutOfPlace, SdrError::kLfVersionTextExpected,
                   &value) != SdrError::kNone) {
      return SdrError::kAlreadyReported;
    }
    if (HeaderLine(SdrKeyword::LfFmtVer, SdrError::kLfFmtVerOutOfPlace, SdrError::kLfFmtVerTextExpected,
                   &value) != SdrError::kNone) {
      return SdrError::kAlreadyReported;
    }
    const std::string format = value.substr(0, 3);
    const bool format15 = format == "1.5";
    if (!format15 && format != "1.3" && format != "1.4") return Fail(SdrError::kFileFormatUnsupported, "1.5");

    SdrToken token = tokens_.Next();
    if (!token.Is(SdrKeyword::SdrVersion) && !token.Is(SdrKeyword::IpmiVersion))
      return Fail(SdrError::kIpmiVersionOutOfPlace);
    token = tokens_.Next();
    if (token.kind != SdrTokenKind::Hex && token.text.size() != 4)
      return Fail(SdrError::kIpmiVersionTextExpected);
    run_.programming.ipmi15Format = false;
    if (format15) {
      if (token.text != "1.00" && token.text != "1.50") return Fail(SdrError::kSdrFormatTooOld, "1.00");
      run_.programming.ipmi15Format = true;
    } else {
      uint8_t version[2] = {};
      const bool is0100 =
          wire::HexToBytesRightAligned(token.text, version, 2) && version[0] == 0x01 && version[1] == 0x00;
      if (!is0100 && token.text != "0.90") return Fail(SdrError::kSdrFormatUnsupported, "0.90");
    }
    if (!tokens_.Next().Is(SdrKeyword::Sdr)) return SdrError::kSdrTagExpected;
    return SdrError::kNone;
  }

  bool HexOfAtMost(size_t digits) {
    SdrToken token = tokens_.Next();
    return token.kind == SdrTokenKind::Hex && token.text.size() <= digits;
  }

  SdrError ParseSelHeader() {
    if (!tokens_.Next().Is(SdrKeyword::Open)) return SdrError::kLeftParenthesisExpected;
    if (!tokens_.Next().Is(SdrKeyword::StartAddr)) return SdrError::kStartAddrNotFirst;
    if (!HexOfAtMost(4)) return SdrError::kStartAddrHexExpected;
    if (!tokens_.Next().Is(SdrKeyword::DataLen)) return SdrError::kDataLenOutOfPlace;
    if (!HexOfAtMost(4)) return SdrError::kDataLenHexExpected;
    if (!tokens_.Next().Is(SdrKeyword::NvsType)) return SdrError::kNvsTypeOutOfPlace;
    SdrToken token = tokens_.Next();
    if (token.kind != SdrTokenKind::Text || !wire::EqualsIgnoreCase(token.text, "IMBDEVICE"))
      return SdrError::kNvsTypeUnsupported;
    if (!tokens_.Next().Is(SdrKeyword::DevBus)) return SdrError::kDevBusOutOfPlace;
    if (!HexOfAtMost(2)) return SdrError::kDevBusHexExpected;
    if (!tokens_.Next().Is(SdrKeyword::DevAddress)) return SdrError::kDevAddressOutOfPlace;
    if (!HexOfAtMost(2)) return SdrError::kDevAddressHexExpected;
    return SdrError::kNone;
  }

  SdrError ParseRecords(SdrRecordList* list) {
    int recordNumber = 0;
    for (;;) {
      SdrToken token = tokens_.Next();
      if (token.Is(SdrKeyword::Close)) return SdrError::kNone;
      // A file cut short must not pass for a whole one: that would erase the repository and
      // write only part of the records.
      if (token.kind == SdrTokenKind::EndOfFile) return SdrError::kSdrFileParsing;
      if (!token.Is(SdrKeyword::SdrType)) continue;
      ++recordNumber;
      // Each record starts from a clean one, whatever a dropped record left.
      SdrRecord record;
      bool selected = false;
      if (ParseRecord(&record, &selected) != SdrError::kNone) {
        if (file_.problem() != TextFile::Problem::kNone) return ReportReadingProblem();
        run_.errors.Report(SdrError::kInvalidRecord, static_cast<uint16_t>(recordNumber));
        return SdrError::kSdrFileParsing;
      }
      if (selected) {
        try {
          list->push_back(record);
        } catch (const std::bad_alloc&) {
          return SdrError::kInsufficientMemory;
        }
      }
    }
  }

  // One record after _SDR_TYPE; kNone or the record's failure (reported as 57 by the caller).
  SdrError ParseRecord(SdrRecord* node, bool* selected) {
    SdrToken token = tokens_.Next();
    if (token.kind != SdrTokenKind::Hex) return SdrError::kSdrTypeHexExpected;
    const SdrError typeResult = wire::HexToBytesRightAligned(token.text, &node->type, 1)
                                    ? SdrError::kNone
                                    : SdrError::kInvalidHexDigitCount;
    const bool oemText = wire::EqualsIgnoreCase(token.text, "C0");

    token = tokens_.Next();
    *selected = !token.Is(SdrKeyword::SdrTag);
    while (token.Is(SdrKeyword::SdrTag)) {
      token = tokens_.Next();
      if (token.kind != SdrTokenKind::Text) return SdrError::kSdrTagTextExpected;
      if (!*selected && names_ && NameMatch(*names_, token.text)) *selected = true;
      // Longer tags are cut to the field; matching above saw the whole text.
      node->tag = token.text.substr(0, kMaxSdrTagLength);
      token = tokens_.Next();
    }
    if (typeResult != SdrError::kNone) return typeResult;

    if (!token.Is(SdrKeyword::RecLen)) return SdrError::kRecLenOutOfPlace;
    token = tokens_.Next();
    if (token.kind != SdrTokenKind::Hex) return SdrError::kRecLenHexExpected;
    node->length = HexToWord(token.text);
    if (node->length > kMaxRecordLength) return SdrError::kInvalidRecordLength;

    int offset = 0;
    do {
      token = tokens_.Next();
      if (token.kind == SdrTokenKind::Hex) {
        if (token.text.size() % 2 != 0) return SdrError::kInvalidHexDigitCount;
        const int count = static_cast<int>(token.text.size() / 2);
        // Items may overshoot the record length, never the record's bytes.
        if (offset + count > kMaxRecordLength) return SdrError::kInvalidRecordData;
        if (!wire::HexToBytesRightAligned(token.text, node->bytes + offset, static_cast<size_t>(count)))
          return SdrError::kInvalidHexDigitCount;
        offset += count;
      } else if (token.kind == SdrTokenKind::Text) {
        const size_t limit = oemText ? kMaxOemTextItem : kMaxTextItem;
        const size_t missing = static_cast<size_t>(node->length - offset);
        if (token.text.size() != missing || token.text.size() > limit) return SdrError::kInvalidRecordData;
        std::memcpy(node->bytes + offset, token.text.data(), missing);
        offset += static_cast<int>(missing);
      } else {
        return SdrError::kInvalidRecordData;
      }
    } while (offset < node->length);
    return SdrError::kNone;
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

SdrError ParseSdrText(SdrRun& run, TextFile& file, const SetNameList* names, SdrRecordList* list) {
  list->clear();
  file.DiscardLine();
  SdrRecordList parsed;
  SdrTextParser parser(run, file, names);
  const SdrError result = parser.Run(&parsed);
  // Nothing after the closing parenthesis is read, and a failed file is not read further.
  file.Close();
  if (result != SdrError::kNone) return result;
  *list = std::move(parsed);
  ScanSdrVersion(run, *list);
  return SdrError::kNone;
}

}  // namespace veltrop
