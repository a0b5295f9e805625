#include "sdrtool/bmc_status.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "sdrtool/cproto.h"
#include "sdrtool/repository_image.h"
#include "sdrtool/result_codes.h"
#include "sdrtool/veltrop_run.h"
#include "transport/log_exchange.h"

namespace veltrop {
namespace {

constexpr const char* kHardwareIdFile = "mchk_fil";
constexpr const char* kVersionCacheFile = "sdrversion_HW";

// Looks for the hardware ID in every whole line, without regard to letter case. Returns -1
// when the file cannot be opened, 1 on a hit, 0 otherwise.
int FindHardwareId(const std::string& id) {
  std::FILE* f = std::fopen(kHardwareIdFile, "rb");
  if (!f) return -1;
  // Whole lines, however long, so an ID is never split at a read boundary.
  std::string line;
  int found = 0;
  for (;;) {
    int c = std::fgetc(f);
    if (c == EOF || c == '\n') {
      if (line.find(id) != std::string::npos) {
        found = 1;
        break;
      }
      line.clear();
      if (c == EOF) break;
      continue;
    }
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    line += static_cast<char>(c);
  }
  std::fclose(f);
  return found;
}

// Reads one cache line without its line end; false at end of file. A last line without a
// line end keeps its last character.
bool ReadCacheLine(std::FILE* f, std::string* out, size_t limit) {
  out->clear();
  int c;
  bool any = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') return true;
    if (out->size() < limit) out->push_back(static_cast<char>(c));
  }
  if (!out->empty() && out->back() == '\r') out->pop_back();
  return any;
}

bool ReadCacheTimestamp(std::FILE* f, uint32_t* value) {
  std::string line;
  if (!ReadCacheLine(f, &line, 64)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty() || line.size() > 8) return false;
  uint32_t v = 0;
  for (char ch : line) {
    if (!std::isxdigit(static_cast<unsigned char>(ch))) return false;
    v = v * 16u + static_cast<uint32_t>(
                      std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0' : std::tolower(ch) - 'a' + 10);
  }
  *value = v;
  return true;
}

void LoadVersionCache(VeltropRun& run) {
  std::FILE* f = std::fopen(kVersionCacheFile, "r");
  if (!f) return;
  uint32_t addition = 0, erase = 0;
  std::string version, cfgName;
  if (ReadCacheTimestamp(f, &addition) && ReadCacheTimestamp(f, &erase) &&
      addition == run.RepositoryAdditionTimestamp && erase == run.RepositoryEraseTimestamp &&
      ReadCacheLine(f, &version, 252)) {
    // Without a version line the cache counts as absent and the repository is read.
    if (!version.empty() && version.back() == '\r') version.pop_back();
    run.BmcSdrVersionText = version;
    if (ReadCacheLine(f, &cfgName, 252)) {
      if (!cfgName.empty() && cfgName.back() == '\r') cfgName.pop_back();
      if (run.RepositoryCfgName.empty()) run.RepositoryCfgName = cfgName;
    }
  }
  std::fclose(f);
}

void WriteVersionCache(VeltropRun& run) {
  std::FILE* f = std::fopen(kVersionCacheFile, "w");
  if (!f) return;  // a cache that cannot be written is only a lost shortcut
  std::fprintf(f, "%04x\n%04x\n%s\n", run.RepositoryAdditionTimestamp, run.RepositoryEraseTimestamp,
               run.BmcSdrVersionText.c_str());
  if (!run.RepositoryCfgName.empty()) std::fprintf(f, "%s\n", run.RepositoryCfgName.c_str());
  std::fclose(f);
}

}  // namespace

int GetBmcStatus(CProto& proto) {
  VeltropRun& run = proto.run();
  const uint8_t request[2] = {0x18, 0x01};
  uint8_t response[transport::kDriverResponseCapacity] = {};
  uint8_t length = 0;
  transport::ExchangeStatus status =
      transport::IpmiExchange(run.transport, request, 2, response, sizeof response, &length);

  const char* code = nullptr;
  if (status == transport::kTransferFailed) {
    code = "SDRC05";
  } else if (status != transport::kExchangeOk) {
    code = "SDRC03";
  } else if ((length != 18 && length != 14) || response[2] != 0x00) {
    code = "SDRC05";
  } else {
    char id[8];
    std::snprintf(id, sizeof id, "%02x%02x", response[13], response[12]);
    int found = FindHardwareId(id);
    if (found < 0) {
      code = "SDRC06";
    } else if (found == 0) {
      code = "SDRC04";
    } else {
      run.LogLine("GetBmcStatus() success.");
      return 0;
    }
  }
  run.ReportResultCode(code);
  if (std::strcmp(code, "SDRC06") != 0) {
    transport::LogExchange([&run](const std::string& line) { run.LogLine(line); },
                           transport::ExchangeLogStyle::kSdrTool, request, response, 2, length);
  }
  return 1;
}

bool LoadBmcSdrVersion(CProto& proto) {
  VeltropRun& run = proto.run();
  LoadVersionCache(run);
  if (run.BmcSdrVersionText.empty()) {
    if (!ReadWholeRepository(proto)) return false;
    if (!run.BmcSdrVersionText.empty()) WriteVersionCache(run);
  }
  return true;
}

std::string NormaliseVersionText(const std::string& text) {
  if (text.size() >= 17) return text.substr(12, 5);
  if (text.size() >= 13) return text.substr(12);
  return text;
}

int CompareSDRVersion(CProto& proto) {
  VeltropRun& run = proto.run();
  if (run.settings.mode == ModeForce) return 0;
  if (run.SdrVersionText.empty()) {
    run.ReportResultCode("SDRC07");
    return 1;
  }
  run.SdrVersionText = NormaliseVersionText(run.SdrVersionText);
  run.BmcSdrVersionText = NormaliseVersionText(run.BmcSdrVersionText);
  const int cmp = run.BmcSdrVersionText.compare(run.SdrVersionText);  // bytewise, unsigned

  std::string code, word;
  if (run.settings.mode == ModeVersion) {
    code = "OK";
    word = cmp == 0 ? "Even" : (cmp < 0 ? "Upper" : "Lower");
  } else if (cmp < 0) {
    run.LogLine("CompareSDRVersion() success.");
    return 0;
  } else {
    code = "Down Grade";
  }
  run.WriteModeResult(code, word, run.BmcSdrVersionText);
  if (code != "OK") run.LogLine(std::string(ResultCodeMessage("SDRC02")) + ":" + code);
  return 1;
}

}  // namespace veltrop
