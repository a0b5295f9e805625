// Placeholder until the programming procedure lands.
#include "sdrtool/sdr_file.h"

namespace veltrop {
SDRFile::SDRFile(VeltropRun& run) : CProto(run) {}
SDRFile::~SDRFile() = default;
int SDRFile::ProgramSdrFile(const std::string&, const SetNameList*) {
  return Report(68);
}
int SDRFile::SetSparedSdrLock(uint8_t) {
  return 81;
}
int SDRFile::ClearSparedSdr() {
  return 81;
}
int SDRFile::PartialAddSparedSdr(const uint8_t*) {
  return 81;
}
int SDRFile::WriteRepository() {
  return 81;
}
int SDRFile::ReadRepository(std::unique_ptr<SensData>*, uint16_t) {
  return 81;
}
int SDRFile::VerifyRecords(const SensData*, const SensData*) {
  return 81;
}
void SDRFile::WriteMessage(const std::string&) {}
}  // namespace veltrop
