#pragma once
#include <string>

#include "sdrtool/sdr_file.h"
#include "sdrtool/set_name_list.h"

namespace veltrop {

// The configuration script's SDR file object: evaluates IFSET conditions and programs or
// compares the SDR files the script names.
class CFRU : public SDRFile {
 public:
  explicit CFRU(VeltropRun& run);
  ~CFRU() override;

  // True when every condition name matches the list, a "#" in a condition standing for any
  // digit of a set name.
  bool ConditionHolds(const SetNameList& names, const std::string* conditions, int count) const;

  // Hands the file to ProgramSdrFile with compareOnly as the run's CompareOnly.
  int ProgramEntry(const std::string& fileName, bool compareOnly, const SetNameList& names);
};

}  // namespace veltrop
