#include "sdrtool/usage.h"

namespace veltrop {

const char kUsage[] =
    "Usage: veltrop MODE [INPUT] [OPTIONS]\n"
    "Modes (exactly one):\n"
    "  -version           compare the input's SDR version with the BMC's (answer: Get_version.xml)\n"
    "  -update [-force]   program the input into the BMC's SDR repository, verify it (Update_normal.xml;\n"
    "                     with -force whatever the versions: Update_force.xml)\n"
    "  -direct [-force]   the same for an operator at the console, after a y/n confirmation\n"
    "  -backup [FILE]     save the BMC's SDR repository into an image (default BMCSDR.BAK)\n"
    "  -ratio             the progress of a running update (Get_ratio.xml)\n"
    "Input (one, with -version, -update and -direct):\n"
    "  -sdr [FILE]        an SDR text file (default BMCSDR.SDR)\n"
    "  -cfg [FILE]        a configuration script (default: the one the BMC's repository names)\n"
    "  -bin [FILE]        a backup image (default BMCSDR.BIN)\n"
    "Options:\n"
    "  -display           show the log on the console     -test, -test2   trace lines in the log\n"
    "  -ff_retry N  -other_retry N  -wait MS  -lock_retry N  -lock_wait S  -C_wait N  -I_wait N  -B_wait N\n"
    "                     retries and waits of the Microsoft IPMI driver (no effect on other drivers)\n"
    "Files: mchk_fil, sdrversion_HW and the logs (veltrop.log, veltrop_version.log, veltrop_ratio.log) in "
    "the\n"
    "current directory; result files beside ExUpInfo.xml (here or the nearest directory above).\n";

}  // namespace veltrop
