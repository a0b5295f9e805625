#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "tests/support/permission_override.h"

namespace testsupport {
namespace {

// Root passes permission checks through these capabilities, not through its user ID.
constexpr unsigned kOverrides = 1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH | 1u << CAP_FOWNER;

bool SetEffective(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned before = data[0].effective;
  if (on) {
    data[0].effective |= kOverrides & data[0].permitted;
  } else {
    data[0].effective &= ~kOverrides;
  }
  if (data[0].effective == before) return false;
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

bool DropPermissionOverride() {
  return SetEffective(false);
}

void RestorePermissionOverride() {
  SetEffective(true);
}

bool MayTakeProductLock() {
  return geteuid() == 0;
}

}  // namespace testsupport
