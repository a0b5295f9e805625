#include "sdrtool/result_codes.h"

#include <cstring>

namespace veltrop {

const char* ResultCodeMessage(const std::string& code) {
  static const struct {
    const char* code;
    const char* message;
  } kMessages[] = {
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
  for (const auto& m : kMessages) {
    if (code == m.code) return m.message;
  }
  return "";
}

}  // namespace veltrop
