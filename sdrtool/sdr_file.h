#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "sdrtool/cproto.h"
#include "sdrtool/lib_funct.h"
#include "sdrtool/sens_data.h"
#include "sdrtool/set_name_list.h"

namespace veltrop {

// One SDR text file (or loaded image) and the procedure that programs it into the BMC.
class SDRFile : public CProto {
 public:
  explicit SDRFile(VeltropRun& run);
  virtual ~SDRFile();

  // Builds FileList from the SDR file (or the loaded image), compares versions, and writes,
  // reads back and verifies, or only compares. 0 on success; failures already reported.
  int ProgramSdrFile(const std::string& fileName, const SetNameList* names);

  // Parses the open file into FileList, keeping tagged records selected by names.
  int Parse(const SetNameList* names);

  // Spared-repository commands.
  int SetSparedSdrLock(uint8_t mode);
  int ClearSparedSdr();
  int PartialAddSparedSdr(const uint8_t* record);

  int WriteRepository();
  int ReadRepository(std::unique_ptr<SensData>* slot, uint16_t recordId);
  int VerifyRecords(const SensData* readList, const SensData* fileList);
  void WriteMessage(const std::string& text);

  std::unique_ptr<SensData> FileList;
  std::unique_ptr<SensData> ReadList;
  int UpdateLockHeld = 0;

 protected:
  FileContext file_;
  uint8_t request_[256] = {};
  uint8_t response_[256] = {};
};

}  // namespace veltrop
