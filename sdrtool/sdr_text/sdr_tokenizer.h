#pragma once
#include <string>

#include "sdrtool/sdr_text/text_file.h"

namespace veltrop {

// The SDR text vocabulary. Keywords are matched exactly and case-sensitively; the ones after
// RecLen are recognised but play no part in the grammar.
enum class SdrKeyword {
  None,
  LfName,
  LfVersion,
  LfFmtVer,
  SdrVersion,
  IpmiVersion,
  Sdr,
  Open,
  Close,
  StartAddr,
  DataLen,
  NvsType,
  DevBus,
  DevAddress,
  SdrType,
  SdrTag,
  RecLen,
  Unused,
};

enum class SdrTokenKind {
  EndOfFile,
  Keyword,
  Hex,   // hex digits, a trailing "#" removed
  Text,  // single-quoted text, the quotes removed
  Other,
};

struct SdrToken {
  SdrTokenKind kind = SdrTokenKind::EndOfFile;
  SdrKeyword keyword = SdrKeyword::None;
  std::string text;  // as classified: digits, the text between the quotes, or the token itself

  bool Is(SdrKeyword k) const { return kind == SdrTokenKind::Keyword && keyword == k; }
};

// Classifies one token as read from the file.
SdrToken ClassifySdrToken(const std::string& raw);

// Splits an SDR text file into tokens. Spaces and tabs separate tokens, "//" at a token's start
// comments out the rest of the line, a token starting with a single quote runs to the next
// single quote on its line.
class SdrTokenizer {
 public:
  explicit SdrTokenizer(TextFile& file) : file_(file) {}

  // The next token; EndOfFile when the file has no more.
  SdrToken Next();
  // Drops the rest of the current line.
  void DiscardLine() { file_.DiscardLine(); }

 private:
  TextFile& file_;
};

}  // namespace veltrop
