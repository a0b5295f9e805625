#pragma once
#include <string>
#include <vector>

#include "sdrtool/config_script/config_line.h"
#include "sdrtool/error_catalogue.h"
#include "sdrtool/sdr_record.h"

namespace veltrop {

class SdrRun;

// The configuration script interpreter of one run: loads the script's lines, parses them,
// executes them, then programs or compares the SDR files the script named.
class ConfigScript {
 public:
  explicit ConfigScript(SdrRun& run) : run_(run) {}
  ConfigScript(const ConfigScript&) = delete;
  ConfigScript& operator=(const ConfigScript&) = delete;

  // All phases. kNone on success; otherwise the failure, already reported.
  SdrError Run(const std::string& path);

  // The phases one by one; each returns kNone or the failure it reported.
  SdrError Load(const std::string& path);
  SdrError ParseLines();
  SdrError Execute();
  SdrError ProgramEntries();

  const std::vector<ConfigLine>& Lines() const { return lines_; }
  const SetNameList& Names() const { return names_; }
  const std::vector<SdrNameEntry>& Entries() const { return entries_; }

 private:
  // One block of IFSET .. ENDIF: whether it may run at all, its condition, and which
  // branch the last ELSE selected.
  struct Block {
    bool enclosingActive;
    bool condition;
    bool inElse;
  };

  void WriteTranscript();
  bool BranchActive() const;
  // Each returns kNone or an error that Execute reports.
  SdrError ExecuteLine(const ConfigLine& line);
  SdrError ExecuteIfSet(const ConfigLine& line);
  SdrError ExecuteSdrName(const ConfigLine& line);
  SdrError ExecuteNameCommand(const ConfigLine& line);
  SdrError ProgramGroup(SdrGroup group);

  SdrRun& run_;
  std::vector<ConfigLine> lines_;
  SetNameList names_;
  std::vector<SdrNameEntry> entries_;
  std::vector<Block> blocks_;
  bool executed_ = false;
};

// True when every condition name matches the list, a "#" in a condition standing for any
// digit of a set name.
bool ConditionHolds(const SetNameList& names, const std::string* conditions, int count);

// Loads, parses and executes a configuration script, then programs or compares the SDR files
// it names. kNone on success; failures are already reported.
SdrError RunConfigScript(SdrRun& run, const std::string& fileName);

}  // namespace veltrop
