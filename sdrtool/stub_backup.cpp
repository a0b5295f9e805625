// Placeholder until the repository commands and the backup image land.
#include "sdrtool/cproto.h"
#include "sdrtool/repository_commands.h"
#include "sdrtool/repository_image.h"
#include "sdrtool/sdr_file.h"

namespace veltrop {
bool GetDeviceId(CProto&, uint8_t*, int*) {
  return false;
}
bool GetSdrRepositoryInfo(CProto&, uint8_t*) {
  return false;
}
bool ReserveSdrRepository(CProto&, uint16_t*) {
  return false;
}
bool GetSdrRecord(CProto&, uint16_t*, uint8_t*, int*) {
  return false;
}
bool GetOemE0Info(CProto&, uint8_t*) {
  return false;
}
int ReportCommandError(CProto& proto, const char* name) {
  return proto.Report(30, 0, name);
}
bool ReadWholeRepository(CProto&) {
  return false;
}
int BackupRepository(CProto&, const std::string&) {
  return 81;
}
bool LoadBackupImage(CProto&, const std::string&) {
  return false;
}
int BuildListFromImage(SDRFile&) {
  return 81;
}
}  // namespace veltrop
