// The SDR text file parser. Input: the file; after a NUL byte, the set names (one a line)
// that select tagged records, else none.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/sdr_bmc.h"
#include "fuzz/support/workspace.h"
#include "sdrtool/sdr_text/sdr_parser.h"
#include "sdrtool/sdr_text/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  workspace.Clear();
  const std::vector<std::string> parts = fuzzing::SplitAtNul(data, size, 2);
  workspace.Write("fuzz.sdr", parts[0]);
  veltrop::SetNameList names;
  if (parts.size() > 1) {
    size_t start = 0;
    for (size_t end = parts[1].find('\n'); start <= parts[1].size(); end = parts[1].find('\n', start)) {
      names.push_back(parts[1].substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  fuzzing::RunFrame frame(nullptr);
  auto run = fuzzing::OfflineSdrRun(frame.env, veltrop::ModeUpdate);
  veltrop::TextFile file;
  veltrop::SdrRecordList records;
  if (file.Open("fuzz.sdr") == veltrop::TextFile::Opened::kOpened &&
      veltrop::ParseSdrText(*run, file, parts.size() > 1 ? &names : nullptr, &records) !=
          veltrop::SdrError::kNone &&
      !records.empty()) {
    fuzzing::Die("a failed parse left records behind");
  }
  // The header's body length may claim more than the record holds (the legacy files' rule, kept
  // by the parser's tests): the write refuses such a record before the active repository is
  // touched. _REC_LEN itself is bounded.
  for (const veltrop::SdrRecord& record : records) {
    if (record.length < 0 || record.length > veltrop::kMaxSdrBodyBytes)
      fuzzing::Die("a record length beyond 64 bytes");
  }
  return 0;
}
