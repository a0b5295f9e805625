#include "sdrtool/sdr_text/sdr_tokenizer.h"

#include <cstring>

#include "wire/hex_text.h"

namespace veltrop {
namespace {

struct KeywordEntry {
  const char* text;
  SdrKeyword keyword;
};

constexpr KeywordEntry kKeywords[] = {
    {"_LF_NAME", SdrKeyword::LfName},
    {"_LF_VERSION", SdrKeyword::LfVersion},
    {"_LF_FMT_VER", SdrKeyword::LfFmtVer},
    {"_SDR_VERSION", SdrKeyword::SdrVersion},
    {"_IPMI_VERSION", SdrKeyword::IpmiVersion},
    {"_SDR", SdrKeyword::Sdr},
    {"(", SdrKeyword::Open},
    {")", SdrKeyword::Close},
    {"_START_ADDR", SdrKeyword::StartAddr},
    {"_DATA_LEN", SdrKeyword::DataLen},
    {"_NVS_TYPE", SdrKeyword::NvsType},
    {"_DEV_BUS", SdrKeyword::DevBus},
    {"_DEV_ADDRESS", SdrKeyword::DevAddress},
    {"_SDR_TYPE", SdrKeyword::SdrType},
    {"_SDR_TAG", SdrKeyword::SdrTag},
    {"_REC_LEN", SdrKeyword::RecLen},
    {"_FRU", SdrKeyword::Unused},
    {"_FRU_TITLE", SdrKeyword::Unused},
    {"_DEV_ID", SdrKeyword::Unused},
    {"_DEV_CONTROLLER", SdrKeyword::Unused},
    {"_NVS_LUN", SdrKeyword::Unused},
    {"_SEE_BOARD", SdrKeyword::Unused},
    {"_SEE_CHASSIS", SdrKeyword::Unused},
    {"_SEE_COMMON", SdrKeyword::Unused},
    {"_SEE_INTERNAL", SdrKeyword::Unused},
    {"_SEE_PRODUCT", SdrKeyword::Unused},
    {"_SEL", SdrKeyword::Unused},
    {"_SEL_TYPE", SdrKeyword::Unused},
};

bool AllHex(const std::string& s, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (wire::HexDigitValue(s[i]) < 0) return false;
  }
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

SdrToken ClassifySdrToken(const std::string& raw) {
  SdrToken token;
  if (raw.empty()) return token;
  for (const KeywordEntry& entry : kKeywords) {
    if (raw == entry.text) {
      token.kind = SdrTokenKind::Keyword;
      token.keyword = entry.keyword;
      token.text = raw;
      return token;
    }
  }
  if (AllHex(raw, raw.size())) {
    token.kind = SdrTokenKind::Hex;
    token.text = raw;
  } else if (raw.size() >= 2 && raw.back() == '#' && AllHex(raw, raw.size() - 1)) {
    // A lone "#" has no digit and stays an ordinary token.
    token.kind = SdrTokenKind::Hex;
    token.text = raw.substr(0, raw.size() - 1);
  } else if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'') {
    token.kind = SdrTokenKind::Text;
    token.text = raw.substr(1, raw.size() - 2);
  } else {
    token.kind = SdrTokenKind::Other;
    token.text = raw;
  }
  return token;
}

SdrToken SdrTokenizer::Next() {
  const char* line = file_.line;
  for (;;) {
    if (file_.cursor >= 0) {
      while (IsBlank(line[file_.cursor])) ++file_.cursor;
      const char c = line[file_.cursor];
      const bool comment = c == '/' && line[file_.cursor + 1] == '/';
      if (!comment && c != '\n' && c != '\0') break;
    }
    if (!file_.ReadLine()) return SdrToken{};
  }

  const int start = file_.cursor;
  int end = start;
  if (line[start] == '\'') {
    ++end;
    while (line[end] != '\'' && line[end] != '\n' && line[end] != '\0') ++end;
    if (line[end] == '\'') ++end;
  } else {
    while (!IsBlank(line[end]) && line[end] != '\n' && line[end] != '\0') ++end;
  }
  file_.cursor = end;
  return ClassifySdrToken(std::string(line + start, static_cast<size_t>(end - start)));
}

}  // namespace veltrop
