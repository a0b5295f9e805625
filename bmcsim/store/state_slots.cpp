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

bool StateSlots::NewestVersion(StateVersion* version) const {
  bool found = false;
  for (const std::string& path : paths_) {
    StateVersion v;
    if (ReadStateVersion(path, &v) && (!found || v.generation > version->generation)) {
      *version = v;
      found = true;
    }
  }
  return found;
}

bool StateSlots::Load(BmcState* state, StateVersion* version, std::string* error) {
  StateVersion headers[2];
  bool present[2];
  for (int i = 0; i < 2; ++i) present[i] = ReadStateVersion(paths_[i], &headers[i]);
  int newer = present[1] && (!present[0] || headers[1].generation > headers[0].generation) ? 1 : 0;
  *error = "no state file";
  for (int slot : {newer, 1 - newer}) {
    if (!present[slot]) continue;
    std::string content;
    std::string detail;
    if (!platform::ReadWholeFile(paths_[slot], &content)) {
      detail = "cannot be read";
    } else if (ParseStateFile(content, state, version, &detail)) {
      current_ = slot;
      return true;
    }
    *error = paths_[slot] + ": " + detail;
  }
  return false;
}

uint64_t StateSlots::PrepareFresh() {
  StateVersion headers[2];
  bool present[2];
  for (int i = 0; i < 2; ++i) present[i] = ReadStateVersion(paths_[i], &headers[i]);
  uint64_t newest = 0;
  current_ = -1;
  for (int i = 0; i < 2; ++i) {
    if (present[i] && (current_ < 0 || headers[i].generation >= newest)) {
      newest = headers[i].generation;
      current_ = i;
    }
  }
  return newest + 1;
}

bool StateSlots::Save(const std::string& payload, StateVersion version, std::string* error) {
  int target = current_ == 0 ? 1 : 0;
  if (!OverwriteInPlace(paths_[target], StateFileContent(payload, version))) {
    *error = "cannot write " + paths_[target];
    return false;
  }
  current_ = target;
  return true;
}

}  // namespace bmcsim
