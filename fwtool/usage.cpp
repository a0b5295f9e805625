#include "fwtool/usage.h"

namespace korvane {

const char kUsage[] =
    "Usage: Korvane [MODE] [OPTIONS]\n"
    "Modes (none: an operator's update at the console, after a y/n confirmation):\n"
    "  -version   compare the running firmware with the package's ExUpInfo.xml (answer: Get_version.xml)\n"
    "  -normal    update when the package is newer (Update_normal.xml)\n"
    "  -force     update whatever the versions (Update_force.xml)\n"
    "  -ratio     the progress of a running update (Get_ratio.xml)\n"
    "Options (before -version and -ratio only -16 and -wait):\n"
    "  -both      program both banks of a dual-bank BMC, the one not running first\n"
    "  -boot      include the boot block (single-bank BMCs only)\n"
    "  -16        write and read 16 bytes per command instead of 28\n"
    "  -wait N    seconds between the Microsoft IPMI driver's retries (written in lower case)\n"
    "Files beside the program: bmcfw.bin, mchk_fil, Korvane_log.txt, Korvane_log1.txt, Get_ratio.xml_tmp;\n"
    "in the current directory: ExUpInfo.xml and the result files.\n";

}  // namespace korvane
