// Prints the kernel IPMI driver's maintenance mode as its ioctl answers it (0 automatic, 1 off,
// 2 on), so the VM test can watch it while Korvane flashes. The mode belongs to the interface,
// so any open device shows what the flashing process set.
#include <fcntl.h>
#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

int main() {
  const int fd = open("/dev/ipmi0", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::perror("/dev/ipmi0");
    return 1;
  }
  int mode = -1;
  const int rc = ioctl(fd, IPMICTL_GET_MAINTENANCE_MODE_CMD, &mode);
  close(fd);
  if (rc != 0) {
    std::perror("IPMICTL_GET_MAINTENANCE_MODE_CMD");
    return 1;
  }
  std::printf("%d\n", mode);
  return 0;
}
