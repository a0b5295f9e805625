#include "sdrtool/version_log.h"

#include "platform/files.h"

namespace veltrop {

void RotateLogBySize(const std::string& path, int64_t limitBytes, const std::string& oldPath) {
  if (platform::FileSize(path) > limitBytes) {
    platform::RemoveFile(oldPath);
    platform::RenameOver(path, oldPath);
  }
}

}  // namespace veltrop
