#include "bmcsim/store/state_slots.h"

#include <cstdio>

#include "platform/files.h"

namespace bmcsim {
namespace {

// Overwrites from the start without truncating: what lies beyond the new content is ignored
// by the reader.
bool OverwriteInPlace(const std::string& path, const std::string& content) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  ok = std::fflush(f) == 0 && ok;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

StateSlots::StateSlots(const std::string& dir)
    : paths_{platform::JoinPath(dir, "state-a.bin"), platform::JoinPath(dir, "state-b.bin")} {}

bool StateSlots::Header(int slot, StateVersion* version) const {
  return ReadStateVersion(paths_[slot], version);
}

bool StateSlots::Load(int slot, BmcState* state, StateVersion* version, size_t* fileBytes,
                      std::string* error) const {
  std::string content;
  std::string detail;
  if (!platform::ReadWholeFile(paths_[slot], &content)) {
    detail = "cannot be read";
  } else if (ParseStateFile(content, state, version, &detail)) {
    *fileBytes = content.size();
    return true;
  }
  *error = paths_[slot] + ": " + detail;
  return false;
}

bool StateSlots::Save(int slot, const std::string& payload, StateVersion version, std::string* error) {
  if (OverwriteInPlace(paths_[slot], StateFileContent(payload, version))) return true;
  *error = "cannot write " + paths_[slot];
  return false;
}

}  // namespace bmcsim
