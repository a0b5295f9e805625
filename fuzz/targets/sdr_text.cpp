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
  int result = file.Open("fuzz.sdr");
  if (result == 0) result = veltrop::ParseSdrText(*run, file, parts.size() > 1 ? &names : nullptr, &records);
  if (result != 0 && !records.empty()) fuzzing::Die("a failed parse left records behind");
  for (const veltrop::SdrRecord& record : records) {
    if (record.BodyLength() > veltrop::kMaxSdrBodyBytes)
      fuzzing::Die("a parsed record longer than a record holds");
  }
  return 0;
}
