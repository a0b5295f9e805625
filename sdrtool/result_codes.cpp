#include "sdrtool/result_codes.h"

namespace veltrop {

const runcontrol::ResultMessage kResultMessages[] = {
    {"SDRC01", "Illegal parameter format."},
    {"SDRC02", "SDRVersion unmatched."},
    {"SDRC03", "Can't open IPMI driver."},
    {"SDRC04", "This SDR data is not supported.(Not Found HWID in mchk_fil)"},
    {"SDRC05", "Get Device ID Command Error."},
    {"SDRC06", "mchk_fil is not opened."},
    {"SDRC07", "Not Found SDRVersion Record in input file."},
    {"SDRC08", "Timeout was generated."},
    {"Duplex", "The update/backup has already been being executed. "},
};
const size_t kResultMessageCount = sizeof kResultMessages / sizeof kResultMessages[0];

const char* ResultCodeMessage(const std::string& code) {
  for (size_t i = 0; i < kResultMessageCount; ++i) {
    if (code == kResultMessages[i].code) return kResultMessages[i].message;
  }
  return "";
}

}  // namespace veltrop
