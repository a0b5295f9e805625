#include "sdrtool/cfru.h"

#include "sdrtool/veltrop_run.h"

namespace veltrop {

CFRU::CFRU(VeltropRun& run) : SDRFile(run) {}

CFRU::~CFRU() = default;

bool CFRU::ConditionHolds(const SetNameList& names, const std::string* conditions, int count) const {
  for (int i = 0; i < count; ++i) {
    if (!NameMatch(names, conditions[i])) return false;
  }
  return true;
}

int CFRU::ProgramEntry(const std::string& fileName, bool compareOnly, const SetNameList& names) {
  run_.CompareOnly = compareOnly ? 1 : 0;
  const int result = ProgramSdrFile(fileName, &names);
  run_.CompareOnly = 0;
  return result;
}

}  // namespace veltrop
