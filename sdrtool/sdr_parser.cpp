#include "sdrtool/sdr_parser.h"

#include <cstring>
#include <new>
#include <string>

#include "sdrtool/sdr_file.h"
#include "sdrtool/sdr_tokenizer.h"
#include "sdrtool/veltrop_run.h"

namespace veltrop {
namespace {

constexpr int kMaxRecordLength = kMaxSdrBodyBytes;  // what _REC_LEN may give, header included
constexpr size_t kMaxTagLength = sizeof(SensData::Tag) - 1;
constexpr size_t kMaxTextItem = 22;
constexpr size_t kMaxOemTextItem = 56;

bool EqualsIgnoreCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != b[i]) return false;
  }
  return true;
}

void ClearNode(SensData* node) {
  node->Type = 0x24;
  std::memset(node->Tag, 0, sizeof node->Tag);
  node->Length = 0;
  std::memset(node->Record, 0, sizeof node->Record);
}

// One pass over an SDR text file. Header failures are reported here (the result is then 81);
// the numbers of the section and its SEL header info are returned for the caller to report.
class SdrTextParser {
 public:
  SdrTextParser(SDRFile& sdr, FileContext& file, const SetNameList* names)
      : sdr_(sdr), run_(sdr.run()), tokens_(file), names_(names) {}

  int Run(std::unique_ptr<SensData>* list) {
    int result = ParseHeader();
    if (result == 0) result = ParseSelHeader();
    if (result == 0) result = ParseRecords(list);
    return result;
  }

 private:
  int Fail(int number, const char* detail = nullptr) {
    sdr_.Report(number, 0, detail);
    return kAlreadyReported;
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
    run_.Ipmi15Format = false;
    if (format15) {
      if (token.text != "1.00" && token.text != "1.50") return Fail(61, "1.00");
      run_.Ipmi15Format = true;
    } else {
      uint8_t version[2] = {};
      const bool is0100 =
          LibFunct::HexToBytes(token.text, version, 2) == 0 && version[0] == 0x01 && version[1] == 0x00;
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
    if (token.kind != SdrTokenKind::Text || !EqualsIgnoreCase(token.text, "IMBDEVICE")) return 54;
    if (!tokens_.Next().Is(SdrKeyword::DevBus)) return 42;
    if (!HexOfAtMost(2)) return 35;
    if (!tokens_.Next().Is(SdrKeyword::DevAddress)) return 41;
    if (!HexOfAtMost(2)) return 34;
    return 0;
  }

  int ParseRecords(std::unique_ptr<SensData>* list) {
    std::unique_ptr<SensData>* tail = list;
    std::unique_ptr<SensData> node;
    int recordNumber = 0;
    for (;;) {
      SdrToken token = tokens_.Next();
      if (token.Is(SdrKeyword::Close)) return 0;
      // A file cut short must not pass for a whole one: that would erase the repository and
      // write only part of the records.
      if (token.kind == SdrTokenKind::EndOfFile) return 62;
      if (!token.Is(SdrKeyword::SdrType)) continue;
      ++recordNumber;
      if (!node) {
        node.reset(new (std::nothrow) SensData);
        if (!node) return 2;
      } else {
        ClearNode(node.get());
      }
      bool selected = false;
      if (ParseRecord(node.get(), &selected) != 0) {
        sdr_.Report(57, static_cast<uint16_t>(recordNumber));
        return 62;
      }
      if (selected) {
        *tail = std::move(node);
        tail = &(*tail)->Next;
      }
    }
  }

  // One record after _SDR_TYPE; 0 or the record's failure number.
  int ParseRecord(SensData* node, bool* selected) {
    SdrToken token = tokens_.Next();
    if (token.kind != SdrTokenKind::Hex) return 38;
    const int typeResult = LibFunct::HexToBytes(token.text, &node->Type, 1);
    const bool oemText = EqualsIgnoreCase(token.text, "C0");

    token = tokens_.Next();
    *selected = !token.Is(SdrKeyword::SdrTag);
    while (token.Is(SdrKeyword::SdrTag)) {
      token = tokens_.Next();
      if (token.kind != SdrTokenKind::Text) return 63;
      if (!*selected && names_ && LibFunct::NameMatch(*names_, token.text)) *selected = true;
      // Longer tags are cut to the field; matching above saw the whole text.
      const size_t n = token.text.size() < kMaxTagLength ? token.text.size() : kMaxTagLength;
      std::memcpy(node->Tag, token.text.data(), n);
      node->Tag[n] = '\0';
      token = tokens_.Next();
    }
    if (typeResult != 0) return typeResult;

    if (!token.Is(SdrKeyword::RecLen)) return 50;
    token = tokens_.Next();
    if (token.kind != SdrTokenKind::Hex) return 37;
    node->Length = sdr_.HexToWord(token.text);
    if (node->Length > kMaxRecordLength) return 58;

    int offset = 0;
    do {
      token = tokens_.Next();
      if (token.kind == SdrTokenKind::Hex) {
        if (token.text.size() % 2 != 0) return 3;
        const int count = static_cast<int>(token.text.size() / 2);
        // Items may overshoot the record length, never the record's bytes.
        if (offset + count > kMaxRecordLength) return 1;
        if (LibFunct::HexToBytes(token.text, node->Record + offset, count) != 0) return 3;
        offset += count;
      } else if (token.kind == SdrTokenKind::Text) {
        const size_t limit = oemText ? kMaxOemTextItem : kMaxTextItem;
        const size_t missing = static_cast<size_t>(node->Length - offset);
        if (token.text.size() != missing || token.text.size() > limit) return 1;
        std::memcpy(node->Record + offset, token.text.data(), missing);
        offset += static_cast<int>(missing);
      } else {
        return 1;
      }
    } while (offset < node->Length);
    return 0;
  }

  SDRFile& sdr_;
  VeltropRun& run_;
  SdrTokenizer tokens_;
  const SetNameList* names_;
};

}  // namespace

bool IsVendorTextRecord(const uint8_t* record, uint8_t marker) {
  // Byte 8 belongs to the record only when the body holds at least 4 bytes.
  return record[3] == 0xC0 && record[4] >= 4 && record[5] == VendorManufacturerId[0] &&
         record[6] == VendorManufacturerId[1] && record[7] == VendorManufacturerId[2] && record[8] == marker;
}

void ScanSdrVersion(VeltropRun& run, const SensData* head) {
  for (const SensData* node = head; node; node = node->Next.get()) {
    ++run.FileRecordCount;
    if (!run.SdrVersionText.empty() || !IsVendorTextRecord(node->Record, kSdrVersionMarker)) continue;
    int end = node->Record[4] + kSdrHeaderBytes;
    if (end > kMaxSdrRecordBytes) end = kMaxSdrRecordBytes;
    std::string text;
    for (int i = 8; i < end && node->Record[i] != 0; ++i) text += static_cast<char>(node->Record[i]);
    run.SdrVersionText = text;
  }
}

int SDRFile::Parse(const SetNameList* names) {
  FileList.reset();
  file_.DiscardLine();
  std::unique_ptr<SensData> list;
  SdrTextParser parser(*this, file_, names);
  const int result = parser.Run(&list);
  // Nothing after the closing parenthesis is read, and a failed file is not read further.
  file_.Close();
  if (result != 0) return result;
  FileList = std::move(list);
  ScanSdrVersion(run_, FileList.get());
  return 0;
}

}  // namespace veltrop
