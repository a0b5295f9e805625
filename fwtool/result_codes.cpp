#include "fwtool/result_codes.h"

namespace korvane {

const runcontrol::ResultMessage kResultMessages[] = {
    {"C1", "Illegal parameter format."},
    {"C2", "Can't open IPMI driver."},
    {"C3", "It is not a target system.(HWID)"},
    {"C4", "It is not a target system.(Update BOOT BLOCK)"},
    {"C5", "It is not a target system.(BMC Device ID)"},
    {"C6", "File open error.(mchk_fil)"},
    {"C7", "File open error.(bmcfw.bin)"},
    {"C8", "Erase error."},
    {"C9", "Update error."},
    {"C10", "Verify error."},
    {"C11", "IPMI command error.(Get Firmware Image Selector)"},
    {"C12", "IPMI command error.(Set Firmware Image Selector)"},
    {"C13", "IPMI command error.(Get Firmware Image Downloader Selector)"},
    {"C14", "IPMI command error.(Set Firmware Image Downloader Selector)"},
    {"C15", "IPMI command error.(Get Device ID)"},
    {"C16", "IPMI command error.(FW ID Chip)"},
    {"C17", "IPMI command error.(Get Channel Access)"},
    {"C18", "IPMI command error.(Set Channel Access)"},
    {"C19", "Timeout was generated."},
    {"C20", "File open error.(ExUpInfo.xml)"},
    {"C21", "Version info. not exist.(ExUpInfo.xml : <version>)"},
    {"C22", "Version info. error.(ExUpInfo.xml : <version>)"},
    {"Duplex", "The update has already been being executed. "},
    {"Complete", "BMCFW update was completed."},
};
const size_t kResultMessageCount = sizeof kResultMessages / sizeof kResultMessages[0];

const char* CodeText(FwCode code) {
  // C1..C22 lead the table in order.
  return kResultMessages[static_cast<int>(code) - 1].code;
}

}  // namespace korvane
