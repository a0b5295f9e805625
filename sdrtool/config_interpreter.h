#pragma once
#include <memory>
#include <string>
#include <vector>

#include "sdrtool/cfru.h"
#include "sdrtool/config_line.h"
#include "sdrtool/set_name_list.h"

namespace veltrop {

class VeltropRun;

// The configuration script interpreter of one run: loads the script's lines, parses them,
// executes them, then programs or compares the SDR files the script named.
class ConfigScript {
 public:
  explicit ConfigScript(VeltropRun& run);
  ~ConfigScript();
  ConfigScript(const ConfigScript&) = delete;
  ConfigScript& operator=(const ConfigScript&) = delete;

  // All phases. 0 on success; otherwise the failure's number, already reported.
  int Run(const std::string& path);

  // The phases one by one; each returns 0 or the number it reported.
  int Load(const std::string& path);
  int ParseLines();
  int Execute();
  int ProgramEntries();

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
  // Each returns 0 or an error number that Execute reports.
  int ExecuteLine(const ConfigLine& line);
  int ExecuteIfSet(const ConfigLine& line);
  int ExecuteSdrName(const ConfigLine& line);
  int ExecuteNameCommand(const ConfigLine& line);
  int ProgramGroup(SdrGroup group);

  VeltropRun& run_;
  std::vector<ConfigLine> lines_;
  SetNameList names_;
  std::vector<SdrNameEntry> entries_;
  std::vector<Block> blocks_;
  std::unique_ptr<CFRU> fru_;
  bool compare_ = false;
  std::string sdrFileName_;
};

}  // namespace veltrop
